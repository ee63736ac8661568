# The one table of causes: every token a kit or the diagnostic companion can put after an
# outcome, with its meaning and what to do. The companion's rows come first, in its own order;
# the kits' own rows (the module, the wrappers, the start-up script, the Ansible role) follow.
# The README's table of causes and the companion's schema are kept in step with it by a test.
@{
    Causes = @(
        @{ Token = 'quick_boot_off'; Source = 'companion'; Meaning = 'All is well: quick boot is off.'; Fix = '' }
        @{ Token = 'quick_boot_on'; Source = 'companion'; Meaning = 'All is well: quick boot is on.'; Fix = '' }
        @{ Token = 'key_missing'; Source = 'companion'; Meaning = 'The key HKLM\SOFTWARE\Vantrel\ZKT05B9 does not exist: the control library was never registered.'; Fix = 'install the control library, or add InstPath and DllName with reg add ... /reg:64' }
        @{ Token = 'key_access_denied'; Source = 'companion'; Meaning = 'The key exists, but its permissions keep this account from reading it (a copy elsewhere does not count).'; Fix = 'give SYSTEM, Administrators and Users read access to the key (regedit, Permissions)' }
        @{ Token = 'key_unreadable'; Source = 'companion'; Meaning = 'The key cannot be opened for another reason; the system text says why.'; Fix = 'repair the key''s permissions, or delete it and register the library again' }
        @{ Token = 'only_32bit_view'; Source = 'companion'; Meaning = 'The key or a value is only in the 32-bit registry view (WOW6432Node), where a 32-bit installer or reg writes it.'; Fix = 'write the values to the 64-bit view with reg add ... /reg:64' }
        @{ Token = 'only_current_user'; Source = 'companion'; Meaning = 'The key is only in a user''s hive (HKEY_CURRENT_USER, or HKEY_USERS when run as SYSTEM).'; Fix = 'write the values under HKLM with reg add ... /reg:64' }
        @{ Token = 'value_not_string'; Source = 'companion'; Meaning = 'A value is not a string (REG_DWORD, REG_BINARY ...), so it reads as empty.'; Fix = 'delete the value and add it again as REG_SZ with reg add ... /t REG_SZ /reg:64' }
        @{ Token = 'value_missing'; Source = 'companion'; Meaning = 'InstPath or DllName is missing or empty.'; Fix = 'add the value with reg add ... /t REG_SZ /reg:64' }
        @{ Token = 'unexpanded_variable'; Source = 'companion'; Meaning = 'A value holds an environment variable such as %SystemDrive%; quickboot.exe uses it unexpanded, even in a REG_EXPAND_SZ.'; Fix = 'store the expanded path as REG_SZ with reg add ... /reg:64' }
        @{ Token = 'value_has_quotes'; Source = 'companion'; Meaning = 'A value is stored with quotes around it; they become part of the path.'; Fix = 'store the value without quotes with reg add ... /reg:64' }
        @{ Token = 'value_has_spaces'; Source = 'companion'; Meaning = 'A value starts or ends with a blank; it becomes part of the path.'; Fix = 'store the value without the blanks with reg add ... /reg:64' }
        @{ Token = 'dllname_has_path'; Source = 'companion'; Meaning = 'DllName holds a path; quickboot.exe puts InstPath in front of it.'; Fix = 'put the folder in InstPath and only the file name in DllName (reg add ... /reg:64)' }
        @{ Token = 'instpath_is_file'; Source = 'companion'; Meaning = 'InstPath names the library file itself instead of its folder.'; Fix = 'set InstPath to the folder and DllName to the file name (reg add ... /reg:64)' }
        @{ Token = 'not_in_ansi_code_page'; Source = 'companion'; Meaning = 'A value has characters outside the system''s ANSI code page; quickboot.exe reads them as ''?''.'; Fix = 'move the library into a folder whose path has only ANSI characters and set InstPath' }
        @{ Token = 'path_too_long'; Source = 'companion'; Meaning = 'InstPath and DllName together are over quickboot.exe''s 520-byte limit.'; Fix = 'move the library into a shorter folder and set InstPath to it' }
        @{ Token = 'path_over_ansi_limit'; Source = 'companion'; Meaning = 'The path is over 259 bytes: within the 520-byte limit, but the ANSI file calls refuse it (error 206 or 3).'; Fix = 'move the library into a folder whose path stays under 260 bytes and set InstPath' }
        @{ Token = 'file_missing'; Source = 'companion'; Meaning = 'No file at the path InstPath and DllName give.'; Fix = 'install the library, or correct InstPath and DllName' }
        @{ Token = 'directory'; Source = 'companion'; Meaning = 'The path names a folder, not a library file.'; Fix = 'make DllName name the library file itself' }
        @{ Token = 'not_a_library'; Source = 'companion'; Meaning = 'The file is not a Windows library at all (damaged or wrong file).'; Fix = 'reinstall the control library' }
        @{ Token = 'wrong_architecture'; Source = 'companion'; Meaning = 'The library is built for another processor (for example 32-bit x86).'; Fix = 'install the vendor''s 64-bit (x86-64) library' }
        @{ Token = 'dependency_missing'; Source = 'companion'; Meaning = 'A DLL the library needs is neither beside the library nor in the system folder; a copy on PATH or in the current folder does not count, as the loader does not look there.'; Fix = 'install what it needs (often a C++ runtime package)' }
        @{ Token = 'blocked_by_policy'; Source = 'companion'; Meaning = 'A policy refused the load: Smart App Control, WDAC, AppLocker or an antivirus (errors 4551, 1260, 225, 226, 577).'; Fix = 'allow the library in the policy, or get a signed build from its vendor' }
        @{ Token = 'start_up_failed'; Source = 'companion'; Meaning = 'The library''s own start-up code refused to load (error 1114).'; Fix = 'a question for the library''s vendor; reinstalling it may help' }
        @{ Token = 'load_failed'; Source = 'companion'; Meaning = 'Any other load error; the system text says why.'; Fix = 'reinstall the library; the error text names the cause' }
        @{ Token = 'export_missing'; Source = 'companion'; Meaning = 'The file is not the control library, or a version without its entry points.'; Fix = 'install the right version of the control library' }
        @{ Token = 'library_crashed'; Source = 'companion'; Meaning = 'The library crashed while starting or reading the setting.'; Fix = 'send this line to the library''s vendor' }
        @{ Token = 'library_hung'; Source = 'companion'; Meaning = 'The library did not return within the time limit (--timeout); quickboot.exe would hang.'; Fix = 'restart the machine; if it stays, send this line to the library''s vendor' }
        @{ Token = 'library_exited'; Source = 'companion'; Meaning = 'The library ended the process itself; the exit code is the library''s own.'; Fix = 'send this line to the library''s vendor' }
        @{ Token = 'unload_crashed'; Source = 'companion'; Meaning = 'The setting was read, but the library crashed while being unloaded; the exit code is the setting.'; Fix = 'send this line to the library''s vendor' }
        @{ Token = 'read_failed'; Source = 'companion'; Meaning = 'The library refused to read the setting; the status is the vendor''s own code.'; Fix = 'a question for the library''s vendor' }
        @{ Token = 'write_in_progress'; Source = 'companion'; Meaning = 'A write (quickboot.exe /1 or /0) is still running, one left running or one from another kit; no second write is started and the library is not called meanwhile.'; Fix = 'wait for the running write to end, then run again' }
        @{ Token = 'internal_error'; Source = 'companion'; Meaning = 'quickboot-diag itself failed.'; Fix = 'run it again; if it stays, report this line to quickboot''s maintainers' }
        @{ Token = 'not_installed'; Source = 'kit'; Meaning = 'quickboot.exe, the QuickBoot module or the program folder was not found where the kit looks; the reason names the places.'; Fix = 'install the release (the MSI records its folder), or give the kit the program folder' }
        @{ Token = 'could_not_start'; Source = 'kit'; Meaning = 'quickboot.exe exists but could not be started; the system text says why.'; Fix = 'check the file and its permissions; reinstall the release' }
        @{ Token = 'timed_out'; Source = 'kit'; Meaning = 'quickboot.exe /g did not answer within the time limit and was ended.'; Fix = 'run quickboot-diag.exe on the machine; the control library may hang' }
        @{ Token = 'write_still_running'; Source = 'kit'; Meaning = 'A write (quickboot.exe /1 or /0) did not end within its limit; it was left running, since a write cut off halfway could leave any state.'; Fix = 'wait for it to end, then read again; if it never ends, restart the machine' }
        @{ Token = 'control_library_failed'; Source = 'kit'; Meaning = 'quickboot.exe answered 100 and the diagnostic companion named no finer cause (it is not installed, or found none).'; Fix = 'install quickboot-diag.exe beside quickboot.exe and run it on the machine' }
        @{ Token = 'unexpected_exit_code'; Source = 'kit'; Meaning = 'quickboot.exe answered none of its answers: the control library may have ended the process.'; Fix = 'run quickboot-diag.exe on the machine; send its line to the library''s vendor' }
        @{ Token = 'no_report'; Source = 'kit'; Meaning = 'The diagnostic companion ran but printed no report.'; Fix = 'run quickboot-diag.exe --json on the machine and read what it prints' }
        @{ Token = 'bad_setting'; Source = 'kit'; Meaning = 'A setting of the kit is not valid (a desired state other than on or off, or a program folder that is not a full path).'; Fix = 'correct the setting in the script or the role''s variables' }
        @{ Token = 'unreachable'; Source = 'kit'; Meaning = 'The machine could not be reached through PowerShell remoting.'; Fix = 'check that the machine is on, on the network and open to remoting, and that the account may connect' }
    )
}
