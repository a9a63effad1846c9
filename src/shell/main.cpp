// Entry point of the client program Tessarin.
#include "shell/startup.h"

int main() { return shell::RunClient(); }
