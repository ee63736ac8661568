// The report as one JSON object (UTF-8), for fleet inventory. The keys are stable:
//
//   tool, version            "quickboot-diag", its version
//   verdict                  the verdict line of the text form
//   exit_code                0, 1 or 100: what "quickboot.exe /g" answers here
//   cause                    quick_boot_off, quick_boot_on, key_missing, key_unreadable,
//                            only_32bit_view, only_current_user, value_not_string,
//                            value_missing, path_too_long, file_missing, directory,
//                            wrong_architecture, not_a_library, dependency_missing,
//                            start_up_failed, load_failed, export_missing, library_crashed,
//                            read_failed
//   process                  ansi_code_page, elevated (true, false or null), windows_version
//   registry                 key, error, values.InstPath and values.DllName (present, type,
//                            size, text), view_32bit and current_user (key_present, InstPath,
//                            DllName: whether each is there)
//   path                     stored, text, bytes, limit, separator_added
//   exists                   outcome, kind ("file", "directory" or null), attributes, error
//   load                     outcome, error, milliseconds, image (null, or is_image, machine,
//                            machine_name), missing_dependencies, exception
//   exports                  outcome, GetVersionInfo, CtrlQuickBoot
//   read                     outcome, status, state_word ("0x00000002"), quick_boot_bit,
//                            milliseconds, exception
//
// Every outcome is "not_reached", "ok", "failed" or "crashed"; every error is null or
// {code, message}; every exception is null or {code ("0xC0000005"), name, module, offset,
// address}. Texts are converted from the ANSI code page.
#pragma once

#include <string>

#include "diag/report.h"

std::string RenderJson(const Report& report);
