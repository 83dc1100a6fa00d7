#include "host/commands/delivery_notices.h"

#include <cstdlib>

namespace vask::host {

namespace {

// The Windows codes a send reports, by what they mean on the LAN.
constexpr long kNoRecipientSlot = 2;  // the computer is there, its slot is not
constexpr long kDuplicateName = 52;   // another computer holds this one's name
constexpr long kNoSuchComputer = 53;  // no computer of that name answers
constexpr long kRemoteSlotsOff = 3025;

std::string Explanation(long code, const std::string& digits) {
  switch (code) {
    case kNoRecipientSlot:
      return "Wiadomość nie doszła: komputer odbiorcy jest w sieci, ale nie działa na nim Vask "
             "z tą samą nazwą kanału. Poproś odbiorcę, by go uruchomił, sprawdź nazwę kanału w "
             "ustawieniach i wyślij ponownie.";
    case kDuplicateName:
      return "Wiadomość nie wyszła: inny komputer w sieci ma tę samą nazwę co twój. Nadaj temu "
             "komputerowi inną nazwę (opcja --computer) i uruchom program ponownie.";
    case kNoSuchComputer:
      return "Wiadomość nie doszła: nie ma takiego komputera w sieci albo jest wyłączony. "
             "Sprawdź nazwę odbiorcy i wyślij ponownie, gdy jego komputer będzie w sieci.";
    case kRemoteSlotsOff:
      return "Wiadomość nie doszła: Windows odbiorcy albo twój ma wyłączone zdalne sloty "
             "pocztowe (Windows 11 24H2 i nowsze). Administrator może je włączyć w zasadach "
             "systemu Windows.";
    default:
      return "Wiadomość nie doszła: system zgłosił błąd numer " + digits +
             ". Wyślij ją ponownie; jeśli błąd wraca, sprawdź połączenie z siecią.";
  }
}

}  // namespace

std::string ExplainNotice(const std::string& body) {
  if (body.empty() || body.back() != ']') return {};
  const size_t open = body.rfind('[');
  if (open == std::string::npos) return {};
  const std::string digits = body.substr(open + 1, body.size() - open - 2);
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return {};
  }
  return Explanation(std::strtol(digits.c_str(), nullptr, 10), digits) + " [" + digits + "]";
}

}  // namespace vask::host
