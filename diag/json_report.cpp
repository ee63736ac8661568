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

json Text(const std::string& text) {
  return AnsiToUtf8(text);
}

json Error(const Win32Error& error) {
  if (error.code == 0) return nullptr;
  return {{"code", error.code}, {"message", Text(error.message)}};
}

json Exception(const CrashFacts& crash) {
  if (crash.code == 0) return nullptr;
  const char* name = ExceptionName(crash.code);
  return {{"code", Hex32(crash.code)},
          {"name", name ? json(name) : json(nullptr)},
          {"module", crash.module.empty() ? json(nullptr) : Text(crash.module)},
          {"offset", crash.module.empty() ? json(nullptr) : json(crash.offset)},
          {"address", HexAddress(crash.address)}};
}

json Value(const ValueFacts& value) {
  if (!value.present)
    return {{"present", false}, {"type", nullptr}, {"size", nullptr}, {"text", ""}};
  return {{"present", true},
          {"type", RegistryTypeName(value.type)},
          {"size", value.size},
          {"text", Text(value.text)}};
}

json Elsewhere(const ElsewhereFacts& facts) {
  return {
      {"key_present", facts.keyPresent}, {"InstPath", facts.instPath}, {"DllName", facts.dllName}};
}

}  // namespace

std::string RenderJson(const Report& report) {
  const RegistryFacts& registry = report.registry;
  const ExistsFacts& exists = report.exists;
  const LoadFacts& load = report.load;
  const ReadFacts& read = report.read;

  json object;
  object["tool"] = "quickboot-diag";
  object["version"] = QB_VERSION_TEXT;
  object["verdict"] = Text(report.verdict);
  object["exit_code"] = report.exitCode;
  object["cause"] = CauseName(report.cause);
  object["process"] = {
      {"ansi_code_page", report.process.ansiCodePage},
      {"elevated",
       report.process.elevated < 0 ? json(nullptr) : json(report.process.elevated == 1)},
      {"windows_version", report.process.windowsVersion}};
  object["registry"] = {
      {"key", "HKLM\\SOFTWARE\\Vantrel\\ZKT05B9"},
      {"error", Error(registry.openError)},
      {"values", {{"InstPath", Value(registry.instPath)}, {"DllName", Value(registry.dllName)}}},
      {"view_32bit", Elsewhere(registry.view32)},
      {"current_user", Elsewhere(registry.currentUser)}};
  object["path"] = {{"stored", report.path.stored},
                    {"text", Text(report.path.text)},
                    {"bytes", report.path.bytes},
                    {"limit", CZKT05B9::kMaxPathBytes},
                    {"separator_added", report.path.separatorAdded}};
  json kind = nullptr;
  if (exists.outcome == Outcome::kOk) {
    kind = exists.attributes & FILE_ATTRIBUTE_DIRECTORY ? "directory" : "file";
  }
  object["exists"] = {
      {"outcome", OutcomeName(exists.outcome)},
      {"kind", kind},
      {"attributes", exists.outcome == Outcome::kOk ? json(exists.attributes) : json(nullptr)},
      {"error", Error(exists.error)}};
  json image = nullptr;
  if (load.headerRead) {
    image = {{"is_image", load.isImage},
             {"machine", load.isImage ? json(Hex16(load.machine)) : json(nullptr)},
             {"machine_name", load.isImage ? json(MachineName(load.machine)) : json(nullptr)}};
  }
  json missing = json::array();
  for (const std::string& name : load.missingDependencies) missing.push_back(Text(name));
  object["load"] = {
      {"outcome", OutcomeName(load.outcome)},
      {"error", Error(load.error)},
      {"milliseconds",
       load.outcome == Outcome::kNotReached ? json(nullptr) : json(load.milliseconds)},
      {"image", image},
      {"missing_dependencies", missing},
      {"exception", Exception(load.crash)}};
  object["exports"] = {{"outcome", OutcomeName(report.exports.outcome)},
                       {"GetVersionInfo", report.exports.getVersionInfo},
                       {"CtrlQuickBoot", report.exports.ctrlQuickBoot}};
  const bool stateRead = read.outcome == Outcome::kOk;
  object["read"] = {
      {"outcome", OutcomeName(read.outcome)},
      {"status", read.outcome == Outcome::kOk || read.outcome == Outcome::kFailed
                     ? json(read.status)
                     : json(nullptr)},
      {"state_word", stateRead ? json(Hex32(read.state)) : json(nullptr)},
      {"quick_boot_bit", stateRead ? json(ReadAnswer(read.state)) : json(nullptr)},
      {"milliseconds",
       read.outcome == Outcome::kNotReached ? json(nullptr) : json(read.milliseconds)},
      {"exception", Exception(read.crash)}};
  // Texts that are not valid UTF-8 are replaced, never thrown about.
  return object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}
