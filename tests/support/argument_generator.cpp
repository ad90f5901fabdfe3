#include "argument_generator.h"

#include <cwctype>

namespace {

const wchar_t* const kOptions[] = {
    L"--result",          L"--firewall-add",        L"--firewall-app",
    L"--openxr-runtime",  L"--clear-xr-env",        L"--remove-legacy-autostart",
    L"--firewall-remove", L"--firewall-app-remove", L"--openxr-runtime-remove",
    L"--openxr-runtime-restore",
};

}  // namespace

std::vector<std::wstring> ArgumentGenerator::Next() {
  std::vector<std::wstring> arguments;
  if (Below(3) == 0) {
    // Well formed: options, each value-taking one followed by any argument.
    for (std::size_t count = Below(7); count > 0 && arguments.size() < 11; --count) {
      arguments.push_back(Option());
      const std::wstring& option = arguments.back();
      if (option == L"--result" || option == L"--firewall-app" || option == L"--openxr-runtime" ||
          option == L"--firewall-app-remove" || option == L"--openxr-runtime-remove" ||
          option == L"--openxr-runtime-restore") {
        arguments.push_back(Argument());
      }
    }
    return arguments;
  }
  arguments.resize(Below(13));
  for (std::wstring& argument : arguments) argument = Argument();
  return arguments;
}

std::wstring ArgumentGenerator::Argument() {
  const std::size_t pick = Below(100);
  if (pick < 55) return Option();
  if (pick < 80) return NearMiss();
  if (pick < 88) return L"";
  if (pick < 89) return std::wstring(longArgumentLength_, L"ax-\xD800"[Below(4)]);
  return Garbage();
}

std::wstring ArgumentGenerator::Option() { return kOptions[Below(std::size(kOptions))]; }

std::wstring ArgumentGenerator::NearMiss() {
  std::wstring option = Option();
  switch (Below(8)) {
    case 0:  // other letter case
      for (wchar_t& c : option) {
        if (Below(3) == 0) c = static_cast<wchar_t>(std::towupper(c));
      }
      if (option == std::wstring(option.size(), L'-')) option += L"X";
      return option;
    case 1:
      return option.substr(1);  // single dash
    case 2:
      return L"/" + option.substr(2);
    case 3:
      return option + L"=" + Garbage();
    case 4:
      return option.substr(0, 1 + Below(option.size() - 1));  // truncated
    case 5:
      return option + (Below(2) ? L" " : L"-");
    case 6:
      return L"-" + option;
    default:
      return option + L"\xDC00";  // a lone low surrogate
  }
}

std::wstring ArgumentGenerator::Garbage() {
  static const wchar_t kUnits[] = {L'a',    L'Z',    L'-',    L'=',    L' ',    L'"',
                                   L'\\',   L'.',    L'\'',   L'\x00E9', L'\x2019', L'\xD800',
                                   L'\xDBFF', L'\xDC00', L'\xDFFF', L'\xFFFF'};
  std::wstring text(Below(12), L'a');
  for (wchar_t& c : text) c = kUnits[Below(std::size(kUnits))];
  return text;
}
