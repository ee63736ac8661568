// The report as one JSON object, for fleet inventory: pure ASCII (everything else as \uXXXX),
// snake_case keys, one type per key (null where a fact is absent), under 8 KiB whatever the
// registry holds. diag/quickboot-diag.schema.json is its schema; schema_version counts its
// incompatible changes. The top-level keys:
//
//   schema_version, tool, version
//   verdict, exit_code, cause, what, fix, fix_commands   the conclusion (cause: the token)
//   computer, account, time                              where and when (time: UTC, ISO 8601)
//   manufacturer, model, firmware_version, firmware_date the machine, as its firmware names it
//   write_in_progress                                    a write held its lock: nothing loaded
//   process      architecture, machine_architecture, windows_version, code pages, elevated,
//                current_directory
//   registry     key, error, values.inst_path and values.dll_name, view_32bit, user_hive
//   path         stored, text, bytes, limit, separator_added
//   probe        end, exit_code, last_step, timeout_seconds, milliseconds
//   exists, load, exports, read, unload                  the steps, each with its outcome
//
// Every outcome is "not_reached", "ok", "failed" or "crashed"; every error is null or
// {code, message}; every exception is null or {code, code_hex, name, module, offset, address}.
#pragma once

#include <string>

#include "diag/report.h"

constexpr int kJsonSchemaVersion = 2;
// The JSON report stays under this whatever the registry holds.
constexpr size_t kMaxJsonBytes = 8000;

std::string RenderJson(const Report& report);
