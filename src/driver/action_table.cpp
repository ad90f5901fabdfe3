#include "driver/action_table.h"

#include "actions/app_firewall_rule.h"
#include "actions/port_firewall_rule.h"
#include "actions/registry_actions.h"

namespace {

constexpr TaskAction kActionTable[] = {
    {L"firewall-add", &AddPortFirewallRule},
    {L"firewall-app", &AllowApplicationThroughFirewall, L"exe"},
    {L"openxr-runtime", &SetOpenXrActiveRuntime, L"manifest"},
    {L"clear-xr-env", &ClearXrRuntimeEnvironment},
    {L"remove-legacy-autostart", &RemoveLegacyAutostart},
    {L"firewall-remove", &RemovePortFirewallRules},
    {L"firewall-app-remove", &RemoveApplicationFromFirewall, L"exe"},
    {L"openxr-runtime-remove", &RemoveOpenXrActiveRuntime, L"manifest"},
    {L"openxr-runtime-restore", &RestoreOpenXrActiveRuntime, L"manifest"},
};

}  // namespace

std::span<const TaskAction> DefaultActionTable() { return kActionTable; }

ActionFunction FindAction(std::span<const TaskAction> table, std::wstring_view name) {
  for (const TaskAction& entry : table) {
    if (entry.name == name) return entry.action;
  }
  return nullptr;
}
