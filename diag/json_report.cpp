#include "diag/json_report.h"

#include <nlohmann/json.hpp>

#include "app/dispatch.h"
#include "bridge/czkt05b9.h"
#include "diag/pe_header.h"
#include "diag/text.h"
#include "diag/verdict.h"
#include "qb_version.h"

namespace {

// Keys in the order written, the verdict first.
using json = nlohmann::ordered_json;

// Shown lengths tried in turn until the whole report fits.
constexpr size_t kShownBytes[] = {kMaxShownBytes, 200, 48};

class Writer {
 public:
  explicit Writer(size_t shown) : shown_(shown) {}

  json Text(const std::string& ansi) const { return AnsiToUtf8(Bounded(ansi, shown_)); }
  json TextOrNull(const std::string& ansi) const {
    return ansi.empty() ? json(nullptr) : Text(ansi);
  }

  json Error(const Win32Error& error) const {
    if (error.code == 0) return nullptr;
    return {{"code", error.code}, {"message", Text(error.message)}};
  }

  json Exception(const CrashFacts& crash) const {
    if (crash.code == 0) return nullptr;
    const char* name = ExceptionName(crash.code);
    return {{"code", crash.code},
            {"code_hex", Hex32(crash.code)},
            {"name", name ? json(name) : json(nullptr)},
            {"module", crash.module.empty() ? json(nullptr) : Text(crash.module)},
            {"offset", crash.module.empty() ? json(nullptr) : json(crash.offset)},
            {"address", crash.address}};
  }

  json Value(const ValueFacts& value) const {
    const bool present = value.present;
    return {{"present", present},
            {"type", present ? json(RegistryTypeName(value.type)) : json(nullptr)},
            {"size", present ? json(value.size) : json(nullptr)},
            {"text", Text(value.text)},
            {"text_bytes", value.text.size()},
            {"outside_ansi_code_page", value.ansiLossy},
            {"unicode_text", value.ansiLossy ? json(Bounded(value.utf8, shown_)) : json(nullptr)}};
  }

  json Elsewhere(const ElsewhereFacts& facts) const {
    return {{"key_present", facts.keyPresent},
            {"where", facts.keyPresent ? Text(facts.where) : json(nullptr)},
            {"inst_path", facts.hasInstPath},
            {"dll_name", facts.hasDllName}};
  }

  json Milliseconds(Outcome outcome, double value) const {
    return outcome == Outcome::kNotReached ? json(nullptr) : json(value);
  }

 private:
  size_t shown_;
};

std::string Render(const Report& report, size_t shown) {
  const Writer w(shown);
  const ProcessFacts& process = report.process;
  const RegistryFacts& registry = report.registry;
  const ExistsFacts& exists = report.exists;
  const LoadFacts& load = report.load;
  const ReadFacts& read = report.read;

  json object;
  object["schema_version"] = kJsonSchemaVersion;
  object["tool"] = "quickboot-diag";
  object["version"] = QB_VERSION_TEXT;
  object["verdict"] = AnsiToUtf8(report.verdict);
  object["exit_code"] = report.exitCode;
  object["cause"] = CauseName(report.cause);
  object["what"] = w.Text(report.what);
  object["fix"] = w.TextOrNull(report.fix);
  json commands = json::array();
  for (const std::string& command : report.fixCommands) commands.push_back(w.Text(command));
  object["fix_commands"] = commands;
  object["computer"] = Bounded(process.computer, shown);
  object["account"] = Bounded(process.account, shown);
  object["time"] = process.time;
  // Bounded already.
  object["manufacturer"] = WideToUtf8(report.hardware.manufacturer);
  object["model"] = WideToUtf8(report.hardware.model);
  object["firmware_version"] = WideToUtf8(report.hardware.firmwareVersion);
  object["firmware_date"] = WideToUtf8(report.hardware.firmwareDate);
  object["write_in_progress"] = report.writeInProgress;
  object["process"] = {
      {"architecture", process.processArchitecture},
      {"machine_architecture", process.machineArchitecture},
      {"windows_version", process.windowsVersion},
      {"ansi_code_page", process.ansiCodePage},
      {"oem_code_page", process.oemCodePage},
      {"console_output_code_page", process.outputCodePage},
      {"elevated", process.elevated < 0 ? json(nullptr) : json(process.elevated == 1)},
      {"current_directory", w.Text(process.currentDirectory)}};
  object["registry"] = {
      {"key", kControlKeyName},
      {"error", w.Error(registry.openError)},
      {"values",
       {{"inst_path", w.Value(registry.instPath)}, {"dll_name", w.Value(registry.dllName)}}},
      {"view_32bit", w.Elsewhere(registry.view32)},
      {"user_hive", w.Elsewhere(registry.user)}};
  object["path"] = {{"stored", report.path.stored},
                    {"text", w.Text(report.path.text)},
                    {"bytes", report.path.bytes},
                    {"limit", CZKT05B9::kMaxPathBytes},
                    {"separator_added", report.path.separatorAdded}};
  const ProbeFacts& probe = report.probe;
  object["probe"] = {{"end", ProbeEndName(probe.end)},
                     {"exit_code", probe.exitCode},
                     {"last_step", probe.lastStep.empty() ? json(nullptr) : json(probe.lastStep)},
                     {"timeout_seconds", probe.timeoutSeconds},
                     {"milliseconds", probe.milliseconds}};
  json kind = nullptr;
  if (exists.outcome == Outcome::kOk) {
    kind = exists.attributes & FILE_ATTRIBUTE_DIRECTORY ? "directory" : "file";
  }
  object["exists"] = {
      {"outcome", OutcomeName(exists.outcome)},
      {"kind", kind},
      {"attributes", exists.outcome == Outcome::kOk ? json(exists.attributes) : json(nullptr)},
      {"error", w.Error(exists.error)}};
  json image = nullptr;
  if (load.headerRead) {
    image = {{"is_image", load.isImage},
             {"machine", load.isImage ? json(load.machine) : json(nullptr)},
             {"machine_name", load.isImage ? json(MachineName(load.machine)) : json(nullptr)}};
  }
  json dependencies = json::array();
  for (const Dependency& dependency : load.dependencies) {
    dependencies.push_back(
        {{"name", w.Text(dependency.name)}, {"directory", w.TextOrNull(dependency.directory)}});
  }
  json missing = json::array();
  for (const Dependency& dependency : load.missingDependencies) {
    missing.push_back(
        {{"name", w.Text(dependency.name)}, {"ignored_copy", w.TextOrNull(dependency.ignoredAt)}});
  }
  object["load"] = {{"outcome", OutcomeName(load.outcome)},
                    {"error", w.Error(load.error)},
                    {"milliseconds", w.Milliseconds(load.outcome, load.milliseconds)},
                    {"module_path", w.TextOrNull(load.modulePath)},
                    {"image", image},
                    {"file_version", w.TextOrNull(load.fileVersion)},
                    {"signature", load.signature.empty() ? json(nullptr) : json(load.signature)},
                    {"dependencies", dependencies},
                    {"missing_dependencies", missing},
                    {"exception", w.Exception(load.crash)}};
  object["exports"] = {{"outcome", OutcomeName(report.exports.outcome)},
                       {"get_version_info", report.exports.getVersionInfo},
                       {"ctrl_quick_boot", report.exports.ctrlQuickBoot}};
  const bool stateRead = read.outcome == Outcome::kOk;
  const bool called = read.outcome == Outcome::kOk || read.outcome == Outcome::kFailed;
  object["read"] = {{"outcome", OutcomeName(read.outcome)},
                    {"status", called ? json(read.status) : json(nullptr)},
                    {"state_word", stateRead ? json(read.state) : json(nullptr)},
                    {"quick_boot_bit", stateRead ? json(ReadAnswer(read.state)) : json(nullptr)},
                    {"milliseconds", w.Milliseconds(read.outcome, read.milliseconds)},
                    {"exception", w.Exception(read.crash)}};
  object["unload"] = {{"outcome", OutcomeName(report.unload.outcome)},
                      {"exception", w.Exception(report.unload.crash)}};
  // ASCII only; texts that are not valid UTF-8 are replaced, never thrown about.
  return object.dump(-1, ' ', true, json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string RenderJson(const Report& report) {
  std::string text;
  for (const size_t shown : kShownBytes) {
    text = Render(report, shown);
    if (text.size() <= kMaxJsonBytes) break;
  }
  return text;
}
