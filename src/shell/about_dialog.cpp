// The About dialog's texts (see about_dialog.h).
#include "shell/about_dialog.h"

#include "shell/version.h"

namespace shell {

const wchar_t kAboutDescription[] = L"Клиент обмена юридически значимыми электронными документами с АИС";

std::wstring AboutVersionLine() { return std::wstring(L"Tessarin, версия ") + kVersionTextWide; }

}  // namespace shell
