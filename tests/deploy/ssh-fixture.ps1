# A private sshd on 127.0.0.1 with the PowerShell subsystem, for tests of PowerShell remoting
# over SSH. Dot-source this file, then:
#     $fixture = Start-SshFixture -Pwsh $env:QB_PWSH -Work $work
#     $session = New-PSSession -HostName $fixture.HostName -Port $fixture.Port `
#         -UserName $fixture.UserName -KeyFilePath $fixture.KeyFilePath
#     ...
#     Stop-SshFixture $fixture
# Everything lives in -Work: the server's configuration, host key, authorized_keys, pid file and
# log, and the client's key, known_hosts and configuration. The system's sshd and ssh
# configurations and ~/.ssh are never read or written: while the fixture runs, a stand-in `ssh`
# first on PATH runs the real one with `-F <Work>/ssh_config` (ssh creates ~/.ssh unless given
# -F). That configuration never prompts: BatchMode, the server's host key known in advance, no
# agent.
# The remote end's environment is sshd's minimal one (HOME, USER, LOGNAME, SHELL, PATH, MAIL,
# SSH_*), then what the user's shell adds (sshd starts the subsystem with `$SHELL -c`, and bash
# reads ~/.bashrc then), then what the client sends: the test process's variables named by
# -SendEnv, as they are when New-PSSession runs. Values that change later go through
# Invoke-Command -ArgumentList.

function Get-FreeTcpPort {
    $listener = [System.Net.Sockets.TcpListener]::new([System.Net.IPAddress]::Loopback, 0)
    $listener.Start()
    try { return $listener.LocalEndpoint.Port } finally { $listener.Stop() }
}

function Test-TcpPort([int]$Port) {
    $client = [System.Net.Sockets.TcpClient]::new()
    try {
        return $client.ConnectAsync([System.Net.IPAddress]::Loopback, $Port).Wait(1000)
    } catch {
        return $false
    } finally {
        $client.Dispose()
    }
}

# The process and every process below it, parents first (from /proc).
function Get-ProcessTree([int]$Root) {
    $children = @{}
    foreach ($folder in [IO.Directory]::GetDirectories('/proc')) {
        $id = 0
        if (-not [int]::TryParse([IO.Path]::GetFileName($folder), [ref]$id)) { continue }
        # pid (comm) state ppid ...: comm may hold blanks and parentheses, so read after the last ')'
        try { $text = [IO.File]::ReadAllText("$folder/stat") } catch { continue }
        $parent = [int]$text.Substring($text.LastIndexOf(')') + 4).Split(' ')[0]
        $children[$parent] += @($id)
    }
    $tree = [System.Collections.Generic.List[int]]::new()
    $tree.Add($Root)
    for ($i = 0; $i -lt $tree.Count; $i++) {
        foreach ($child in $children[$tree[$i]]) { $tree.Add($child) }
    }
    return $tree
}

# Whether the process runs: a killed process whose parent has not reaped it yet counts as ended.
function Test-ProcessRunning([int]$Id) {
    try { $text = [IO.File]::ReadAllText("/proc/$Id/stat") } catch { return $false }
    return $text[$text.LastIndexOf(')') + 2] -ne 'Z'
}

function Start-SshFixture {
    param(
        [Parameter(Mandatory)] [string]$Pwsh,
        [Parameter(Mandatory)] [string]$Work,
        # Variables of the test process the remote end receives (ssh_config SendEnv patterns).
        [string[]]$SendEnv = @('QB_*', 'CTLSIM_*', 'ProgramW6432', 'LANG', 'LC_*'),
        [int]$TimeoutSeconds = 20
    )
    $sshd = '/usr/sbin/sshd'  # an absolute path: sshd re-executes itself for each connection
    foreach ($program in $sshd, '/usr/bin/ssh', '/usr/bin/ssh-keygen') {
        if (-not (Test-Path -LiteralPath $program)) { throw "$program is missing: run scripts/install-deps" }
    }
    $Pwsh = (Resolve-Path -LiteralPath $Pwsh).Path
    New-Item -ItemType Directory -Force -Path (Join-Path $Work 'bin') | Out-Null
    $Work = (Resolve-Path -LiteralPath $Work).Path
    if ("$Work$Pwsh" -match '\s') { throw "sshd_config cannot hold blanks in '$Work' or '$Pwsh'" }
    $userName = [Environment]::UserName
    $hostKey = Join-Path $Work 'ssh_host_ed25519_key'
    $clientKey = Join-Path $Work 'id_ed25519'
    foreach ($key in $hostKey, $clientKey) {
        Remove-Item -LiteralPath $key, "$key.pub" -ErrorAction SilentlyContinue
        & /usr/bin/ssh-keygen -q -t ed25519 -N '' -C quickboot-test -f $key
        if ($LASTEXITCODE -ne 0) { throw "ssh-keygen could not make $key" }
    }
    Copy-Item -LiteralPath "$clientKey.pub" -Destination (Join-Path $Work 'authorized_keys')
    $hostPublic = (Get-Content -Raw -LiteralPath "$hostKey.pub").Trim()
    # One name for the host key whatever the port, so that known_hosts is written once.
    Set-Content -LiteralPath (Join-Path $Work 'known_hosts') -Value "quickboot-test $hostPublic"
    Set-Content -LiteralPath (Join-Path $Work 'ssh_config') -Value @(
        'Host *'
        '  BatchMode yes'
        '  StrictHostKeyChecking yes'
        '  HostKeyAlias quickboot-test'
        "  UserKnownHostsFile $Work/known_hosts"
        '  GlobalKnownHostsFile /dev/null'
        '  IdentitiesOnly yes'
        '  IdentityAgent none'
        '  ConnectTimeout 10'
        '  LogLevel ERROR'
        "  SendEnv $($SendEnv -join ' ')"
    )
    $standIn = Join-Path $Work 'bin/ssh'
    Set-Content -LiteralPath $standIn -Value @('#!/bin/sh', "exec /usr/bin/ssh -F '$Work/ssh_config' `"`$@`"")
    & chmod +x $standIn
    # As root, sshd needs its privilege separation folder, which the system's service makes.
    if ((& id -u) -eq '0' -and -not (Test-Path -LiteralPath /run/sshd)) {
        New-Item -ItemType Directory -Path /run/sshd | Out-Null
    }

    $log = Join-Path $Work 'sshd.log'
    $started = [Diagnostics.Stopwatch]::StartNew()
    # The port is free when chosen but may be taken before sshd binds it: then another try.
    for ($attempt = 1; ; $attempt++) {
        $port = Get-FreeTcpPort
        $config = Join-Path $Work 'sshd_config'
        Set-Content -LiteralPath $config -Value @(
            "Port $port"
            'ListenAddress 127.0.0.1'
            "HostKey $hostKey"
            "PidFile $Work/sshd.pid"
            "AuthorizedKeysFile $Work/authorized_keys"
            'AuthenticationMethods publickey'
            'PasswordAuthentication no'
            'KbdInteractiveAuthentication no'
            'UsePAM no'
            'StrictModes no'  # the work folder may sit under a world-writable /tmp
            'PermitRootLogin prohibit-password'
            "AllowUsers $userName"
            'AllowTcpForwarding no'
            'X11Forwarding no'
            'PrintMotd no'
            'PrintLastLog no'
            "AcceptEnv $($SendEnv -join ' ')"
            "Subsystem powershell $Pwsh -sshs -NoLogo -NoProfile"
        )
        Remove-Item -LiteralPath $log -ErrorAction SilentlyContinue
        $info = [Diagnostics.ProcessStartInfo]::new($sshd)
        foreach ($argument in '-D', '-f', $config, '-E', $log) { $info.ArgumentList.Add($argument) }
        $info.UseShellExecute = $false
        $info.RedirectStandardInput = $true
        $process = [Diagnostics.Process]::Start($info)
        while (-not (Test-TcpPort $port)) {
            if ($process.WaitForExit(50)) { break }
            if ($started.Elapsed.TotalSeconds -gt $TimeoutSeconds) {
                $process.Kill()
                throw "sshd did not accept connections on port $port within $TimeoutSeconds seconds"
            }
        }
        if (-not $process.HasExited) { break }
        $said = Get-Content -Raw -LiteralPath $log -ErrorAction SilentlyContinue
        if ($attempt -ge 3 -or $said -notmatch 'Address already in use') {
            throw "sshd ended with exit code $($process.ExitCode): $said"
        }
    }

    # A port bound and not listening: connections are refused, and nothing else can take it.
    $closed = [System.Net.Sockets.Socket]::new('InterNetwork', 'Stream', 'Tcp')
    $closed.Bind([System.Net.IPEndPoint]::new([System.Net.IPAddress]::Loopback, 0))
    $savedPath = $env:PATH
    $env:PATH = (Join-Path $Work 'bin') + [IO.Path]::PathSeparator + $env:PATH
    return [pscustomobject]@{
        PSTypeName = 'QuickBoot.SshFixture'
        HostName = '127.0.0.1'
        Port = $port
        UserName = $userName
        KeyFilePath = $clientKey
        ClosedPort = $closed.LocalEndPoint.Port
        StartSeconds = $started.Elapsed.TotalSeconds
        Process = $process
        Log = $log
        ClosedSocket = $closed
        SavedPath = $savedPath
    }
}

function Stop-SshFixture {
    param([Parameter(Mandatory)] $Fixture)
    # The listener first would orphan its connections' processes: take the whole tree at once.
    $tree = Get-ProcessTree $Fixture.Process.Id
    foreach ($id in $tree) {
        try { [Diagnostics.Process]::GetProcessById($id).Kill() } catch { Write-Verbose "process $id has ended: $_" }
    }
    $deadline = [DateTime]::UtcNow.AddSeconds(10)
    while (@($tree | Where-Object { Test-ProcessRunning $_ }).Count -and [DateTime]::UtcNow -lt $deadline) {
        Start-Sleep -Milliseconds 20
    }
    $Fixture.ClosedSocket.Dispose()
    $env:PATH = $Fixture.SavedPath
}
