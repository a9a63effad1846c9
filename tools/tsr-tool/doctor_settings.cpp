// tsr-tool doctor, the settings: the certificate of "IDC_CERT" in the store
// and usable (the client's own choice, CheckCert), its key container opened
// with the stored PIN, the exchange folder with out/ and in/ writable, and
// the proxy settings complete.
#include <charconv>
#include <string>

#include "core/client_state.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "doctor.h"
#include "exchange/session.h"
#include "link/proxy.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "storage/settings.h"

namespace tsr_tool::doctor {
namespace {

constexpr char kNoSettings[] = "Не проверено: настройки не прочитаны";

// Why a certificate of "My" that the client does not list is left out.
Finding NotListed(const crypto::KeyId& keyId, const std::string& iks) {
  crypto::DataBlock der;
  if (!crypto::GetCertBlob(keyId, &der)) {
    return Fail("Сертификата, выбранного в настройках, нет в хранилище: установите его или выберите другой",
                "IDC_CERT " + iks + " not in My");
  }
  std::vector<uint8_t> bytes = crypto::BlockBytes(der);
  crypto::provider::CertInfo info;
  if (crypto::provider::ReadCertificate(bytes, &info) == 0 && info.notAfter < platform::FileTimeNow()) {
    return Fail("Срок действия выбранного сертификата истек " + DateText(info.notAfter) +
                    ": получите новый сертификат и выберите его",
                "IDC_CERT " + iks + " ended " + DateText(info.notAfter));
  }
  if (crypto::GetUNP(bytes).size() != 9) {
    return Fail("В выбранном сертификате нет УНП: выберите сертификат организации", "IDC_CERT " + iks + " without УНП");
  }
  return Fail("Выбранный сертификат не годится для работы", "IDC_CERT " + iks + " not listed");
}

// A folder of the exchange folder: present and writable (a file is
// written and removed).
std::string FolderProblem(const std::string& folder) {
  if (!platform::FolderExists(folder)) return folder + " does not exist";
  std::string probe = folder + "tsr-doctor.tmp";
  if (!platform::WriteWholeFile(probe, "", 0)) {
    return folder + " not writable (system error " + std::to_string(platform::LastSystemError()) + ")";
  }
  platform::FileDelete(probe);
  return "";
}

}  // namespace

Finding CheckCertificate(Doctor& doctor) {
  if (!doctor.settings) return Warn(kNoSettings);
  std::string iks = SettingText("IDC_CERT");
  if (iks.empty()) return Fail("Для работы программы необходимо выбрать сертификат. Сервис->Настройка", "IDC_CERT empty");
  int count = crypto::ListCertificates();
  if (count < 0) return Fail("Хранилище сертификатов не открывается", "ListCertificates -1");
  crypto::SelectCertificate(-1);
  core::SetClientState(core::kStateReady);
  if (!exchange::CheckCert()) {
    std::vector<uint8_t> id = core::HexDecode(iks);
    crypto::KeyId keyId{};
    if (id.size() != keyId.size()) return Fail("В настройках указан неверный идентификатор сертификата", "IDC_CERT " + iks);
    std::copy(id.begin(), id.end(), keyId.begin());
    return NotListed(keyId, iks);
  }
  crypto::GetSelectedEntry(&doctor.entry);
  doctor.certificate = true;
  std::string name = core::ToNarrow(doctor.entry.subjectName, core::kCodePageUtf8);
  std::string detail = "IKS " + iks + ", УНП " + core::ToNarrow(doctor.entry.unpText, core::kCodePageUtf8) +
                       ", " + std::to_string(count) + " usable in My";
  if (core::GetClientState() == core::kStateCertificateInvalid) {
    return Fail("Сертификат " + name + " не действителен или отозван: получите новый сертификат", detail);
  }
  return Ok("Сертификат " + name + " есть в хранилище", detail);
}

Finding CheckContainer(Doctor& doctor) {
  if (!doctor.certificate) return Warn("Не проверено: нет выбранного сертификата");
  if (!crypto::IsContainer(doctor.entry.keyId, crypto::kContainerPresent)) {
    return Fail("Не установлен носитель с личным ключом или ошибка при чтении носителя", "IsContainer mode 0 false");
  }
  std::string pin = SettingText("IDC_PASS");
  std::string detail = "stored PIN of " + std::to_string(core::ToWide(pin, core::kCodePageUtf8).size()) +
                       " characters (not shown)";
  if (pin.empty()) return Fail("В настройках не указан пароль от контейнера", "IDC_PASS empty");
  if (!crypto::IsContainer(doctor.entry.keyId, crypto::kContainerPin)) {
    return Fail("В настройках не указан верный пароль от контейнера: введите пароль заново", detail);
  }
  doctor.container = true;
  return Ok("Носитель с личным ключом открывается сохраненным паролем", detail);
}

Finding CheckExchangeFolder(Doctor& doctor) {
  if (!doctor.settings) return Warn(kNoSettings);
  if (storage::GetSettingInt("IDC_SERVICE") == 0) return Ok("Обмен с учетной системой выключен", "IDC_SERVICE 0");
  std::string path = SettingText("IDC_PATH");
  if (path.empty()) return Fail("Не указана папка обмена с учетной системой: Сервис->Настройка", "IDC_PATH empty");
  std::string folder = platform::AsFolder(path);
  if (!platform::FolderExists(folder)) {
    return Fail("Папки обмена нет: создайте ее или укажите другую", folder + " does not exist");
  }
  for (const char* sub : {"out", "in"}) {
    std::string problem = FolderProblem(folder + sub + "/");
    if (!problem.empty()) {
      return Fail(std::string("Клиент не может писать в папку обмена ") + sub + ": проверьте права доступа", problem);
    }
  }
  return Ok("Папка обмена доступна, out и in открыты для записи", folder);
}

Finding CheckProxySettings(Doctor& doctor) {
  if (!doctor.settings) return Warn(kNoSettings);
  if (storage::GetSettingInt("IDC_PROXY_USE") == 0) return Ok("Прокси-сервер не используется", "IDC_PROXY_USE 0");
  std::string type = SettingText("IDC_PROXY_T");
  std::string address = SettingText("IDC_PROXY_A");
  std::string port = SettingText("IDC_PROXY_PORT");
  std::string detail = "type '" + type + "', " + address + ":" + port;
  int portNumber = 0;
  auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), portNumber);
  if (address.empty() || error != std::errc() || end != port.data() + port.size() || portNumber < 1 ||
      portNumber > 65535) {
    return Fail("Не указан адрес или порт прокси-сервера: Сервис->Настройка", detail);
  }
  if (type != std::to_string(serverlink::kProxyHttp) && type != std::to_string(serverlink::kProxySocks5)) {
    return Warn("Тип прокси-сервера не HTTP (1) и не SOCKS5 (5): соединение пойдет без прокси-рукопожатия", detail);
  }
  if (type == std::to_string(serverlink::kProxySocks5) && !SettingText("IDC_PROXY_USER").empty()) {
    return Warn("Прокси SOCKS5 работает только без имени и пароля: имя пользователя не будет использовано", detail);
  }
  return Ok("Настройки прокси-сервера заполнены", detail);
}

}  // namespace tsr_tool::doctor
