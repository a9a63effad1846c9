// Entry point of the updater program TSR_Update.
#include "updater/updater.h"

int main() { return updater::RunUpdater(); }
