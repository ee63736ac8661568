# The SSH fixture (ssh-fixture.ps1) that the remoting tests of the QuickBoot module stand on: a
# private sshd with the PowerShell subsystem, sessions to it, and a port where nothing listens.
# Run by tests/deploy/run-pester, which sets QB_SOURCE and QB_PWSH.

BeforeAll {
    . (Join-Path $env:QB_SOURCE 'tests/deploy/ssh-fixture.ps1')
    $Work = Join-Path ([IO.Path]::GetTempPath()) "qb-ssh-$PID"
    $Fixture = Start-SshFixture -Pwsh $env:QB_PWSH -Work $Work
    Write-Host "sshd on port $($Fixture.Port) accepted connections after $([math]::Round($Fixture.StartSeconds, 2)) s"
    $Connection = @{ Port = $Fixture.Port; UserName = $Fixture.UserName; KeyFilePath = $Fixture.KeyFilePath }
    $env:QB_SSH_SENT = 'sent with the session'
    $clock = [Diagnostics.Stopwatch]::StartNew()
    $Sessions = New-PSSession -HostName $Fixture.HostName, $Fixture.HostName @Connection
    Write-Host "two sessions opened after $([math]::Round($clock.Elapsed.TotalSeconds, 2)) s"
}

AfterAll {
    if ($Sessions) { Remove-PSSession $Sessions }
    if (-not $Fixture.Process.HasExited) { Stop-SshFixture $Fixture }
    Remove-Item env:QB_SSH_SENT -ErrorAction SilentlyContinue
    Remove-Item -Recurse -Force -LiteralPath $Work -ErrorAction SilentlyContinue
}

Describe 'The SSH fixture' {
    It 'two sessions run in two remote processes' {
        $ids = @(Invoke-Command -Session $Sessions { $PID })
        $ids.Count | Should -Be 2
        $ids[0] | Should -Not -Be $ids[1]
        $ids | Should -Not -Contain $PID
    }

    It 'the remote end imports the module by path' {
        $manifest = Join-Path $env:QB_SOURCE 'powershell/QuickBoot/QuickBoot.psd1'
        $names = Invoke-Command -Session $Sessions[0] -ArgumentList $manifest {
            param($Path)
            Import-Module $Path
            (Get-Command -Module QuickBoot).Name
        }
        $names | Sort-Object | Should -Be ((Import-PowerShellDataFile $manifest).FunctionsToExport | Sort-Object)
    }

    It 'the remote end gets a variable sent with the session and one passed as an argument' {
        $seen = Invoke-Command -Session $Sessions[0] -ArgumentList 'passed as an argument' {
            param($Value)
            $env:QB_SSH_PASSED = $Value
            $env:QB_SSH_SENT, $env:QB_SSH_PASSED, [bool]$env:SSH_CONNECTION
        }
        $seen | Should -Be 'sent with the session', 'passed as an argument', $true
    }

    It 'a closed port: New-PSSession fails with PSSessionOpenFailed' {
        $clock = [Diagnostics.Stopwatch]::StartNew()
        $null = New-PSSession -HostName $Fixture.HostName @Connection -Port $Fixture.ClosedPort `
            -ErrorAction SilentlyContinue -ErrorVariable failure
        Write-Host "the closed port failed after $([math]::Round($clock.Elapsed.TotalSeconds, 2)) s"
        $failure.Count | Should -Be 1
        $failure[0].Exception | Should -BeOfType System.Management.Automation.Remoting.PSRemotingTransportException
        $failure[0].FullyQualifiedErrorId | Should -Be 'PSSessionOpenFailed'
    }

    It 'Stop-SshFixture ends sshd and the sessions'' processes' {
        $ids = @(Invoke-Command -Session $Sessions { $PID }) + $Fixture.Process.Id
        Stop-SshFixture $Fixture
        $ids | Where-Object { Test-ProcessRunning $_ } | Should -BeNullOrEmpty
        Test-TcpPort $Fixture.Port | Should -BeFalse
    }
}
