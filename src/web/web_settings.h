// The web page's settings commands: "settings" reads the settings and the
// usable certificates, "update" stores what the page sends and restarts
// the work. Called by HandleWebRequest on the worker threads.
#pragma once

#include <functional>
#include <string>

namespace web {

// The settings answer: the page's eleven settings (a password as twelve
// asterisks) and every usable certificate.
std::string SettingsCommand();

// Stores the settings that `data` carries (percent-encoded pairs of braced
// texts, {IDC_NAME}{value}...), saves them and asks for the work to start
// afresh; answers "Настройки сохранены." or the first error.
std::string UpdateCommand(const std::string& request);

// What a settings change starts: the shell sets StartWork here. It always
// runs on the user-interface thread (posted there), never on the worker
// that stored the settings. Without one nothing is started.
void SetSettingsChangedHook(std::function<void()> hook);

}  // namespace web
