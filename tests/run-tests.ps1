# Runs every test program of this folder on a Windows machine:
#   powershell -ExecutionPolicy Bypass -File run-tests.ps1
# Prints each program's result and ends with the line
#   N passed, M failed, K skipped
# where N and M count test programs and K counts the test cases GoogleTest
# skipped, so that a skip never passes in silence. A program passes when it
# exits with 0 and prints GoogleTest's closing PASSED line. Programs named
# with -NoSkipIn (for example live_windows_tests) fail when any of their
# cases was skipped, and a name there that is no program of this folder
# fails the run. Each program may run -TimeoutSeconds; once -BudgetSeconds
# are spent the programs left are not started and count as failed, so the
# summary always comes. -LogFolder keeps every program's output there
# (otherwise it goes to a temporary folder that is removed). The exit code
# is 0 when no program failed.
param(
  [string[]]$NoSkipIn = @(),
  [int]$TimeoutSeconds = 300,
  [int]$BudgetSeconds = 2400,
  [string]$LogFolder = ''
)

$ErrorActionPreference = 'Stop'

# Windows PowerShell writes to a pipe (a CI job's log) in the OEM code page,
# which turns the programs' UTF-8 texts, the Russian verdicts among them,
# into question marks. Without a console to set, the texts only look wrong.
try {
  [Console]::OutputEncoding = [Text.UTF8Encoding]::new($false)
} catch {
  Write-Host "note: the console output encoding could not be set to UTF-8: $_"
}
$OutputEncoding = [Text.UTF8Encoding]::new($false)

$folder = Split-Path -Parent $MyInvocation.MyCommand.Path
$keepLogs = $LogFolder -ne ''
$logs = $LogFolder
if (-not $keepLogs) { $logs = Join-Path ([System.IO.Path]::GetTempPath()) ('mirrow-tests-' + $PID) }
New-Item -ItemType Directory -Force -Path $logs | Out-Null
$deadline = (Get-Date).AddSeconds($BudgetSeconds)

$passed = 0
$failed = 0
$skipped = 0
$timedOut = @()

# The whole text of a log. The program's children (a guard or helper that
# outlives its test) inherit its log handle and may still hold it open for
# writing, which File.ReadAllText refuses; sharing read and write it reads.
function Read-Log([string]$Path) {
  $stream = [IO.FileStream]::new($Path, [IO.FileMode]::Open, [IO.FileAccess]::Read, [IO.FileShare]::ReadWrite)
  try {
    $reader = [IO.StreamReader]::new($stream, [Text.UTF8Encoding]::new($false))
    return $reader.ReadToEnd()
  } finally {
    $stream.Dispose()
  }
}

function Invoke-Program([string]$Path, [string[]]$Arguments, [string]$Name, [int]$Seconds) {
  $out = Join-Path $logs ($Name + '.out.txt')
  $err = Join-Path $logs ($Name + '.err.txt')
  $started = @{ FilePath = $Path; WorkingDirectory = $folder; NoNewWindow = $true; PassThru = $true;
                RedirectStandardOutput = $out; RedirectStandardError = $err }
  if ($Arguments.Count -gt 0) { $started.ArgumentList = $Arguments }
  try {
    $process = Start-Process @started
  } catch {
    return @{ Finished = $true; ExitCode = -1; Output = "cannot start ${Path}: $_"; LogProblem = '' }
  }
  # Reading the handle now keeps the exit code available after the end.
  $null = $process.Handle
  $finished = $process.WaitForExit($Seconds * 1000)
  if (-not $finished) {
    # It may end by itself between the wait and the kill.
    try { $process.Kill() } catch { }
    $null = $process.WaitForExit(10000)
  }
  # A process that outlived its kill has no exit code to read.
  $exitCode = -1
  if ($process.HasExited) { $exitCode = $process.ExitCode }
  $text = ''
  $logProblem = ''
  foreach ($log in @($out, $err)) {
    if (-not (Test-Path $log)) { continue }
    try { $text += Read-Log $log } catch { $logProblem += "cannot read ${log}: $($_.Exception.Message) " }
  }
  return @{ Finished = $finished; ExitCode = $exitCode; Output = $text; LogProblem = $logProblem.Trim() }
}

# "skipped: CASE: REASON" for each skipped case: GoogleTest prints the
# reason on the line after "file:line: Skipped", inside the case's RUN block.
function Show-Skips([string[]]$Lines) {
  $case = ''
  for ($i = 0; $i -lt $Lines.Count; $i++) {
    if ($Lines[$i] -match '^\[ RUN      \] (.+)$') { $case = $Matches[1] }
    elseif ($Lines[$i] -match ': Skipped$') {
      $reason = ''
      if ($i + 1 -lt $Lines.Count) { $reason = $Lines[$i + 1] }
      Write-Host ('      skipped: {0}: {1}' -f $case, $reason)
    }
  }
}

# The time a program may take: its own limit, or what is left of the budget.
function Get-Allowance {
  $left = [int][Math]::Floor(($deadline - (Get-Date)).TotalSeconds)
  return [Math]::Min($TimeoutSeconds, $left)
}

# A summary comes even when the script itself breaks: what ran is counted.
try {
  # "-NoSkipIn a,b" through -File arrives as the one string "a,b".
  $NoSkipIn = @($NoSkipIn | ForEach-Object { $_ -split ',' } | ForEach-Object { $_.Trim() } | Where-Object { $_ -ne '' })
  $programs = @(Get-ChildItem -Path $folder -Filter '*_tests.exe' | Sort-Object Name)
  $names = @($programs | ForEach-Object { $_.BaseName })
  # A program that is missing or renamed would let its -NoSkipIn pass with no case run at all.
  foreach ($name in $NoSkipIn) {
    if ($names -notcontains $name) {
      $failed += 1
      Write-Host ("FAIL  {0}  (named with -NoSkipIn, but there is no {0}.exe in {1})" -f $name, $folder)
    }
  }

  foreach ($program in $programs) {
    $name = $program.BaseName
    $allowance = Get-Allowance
    if ($allowance -le 0) {
      $failed += 1
      Write-Host ("FAIL  {0}  (not run: the budget of {1} s is spent)" -f $name, $BudgetSeconds)
      continue
    }
    $run = Invoke-Program $program.FullName @() $name $allowance
    $lines = $run.Output -split "`r?`n"
    # Each skipped case prints one line with its time; the summary repeats
    # the names without one.
    $caseSkips = @($lines | Where-Object { $_ -match '^\[  SKIPPED \] .+ \(\d+ ms\)$' }).Count
    $closed = @($lines | Where-Object { $_ -match '^\[  PASSED  \]' }).Count -gt 0
    $skipped += $caseSkips

    $problem = ''
    if (-not $run.Finished) {
      $problem = "did not end within $allowance s"
      if ($allowance -lt $TimeoutSeconds) { $problem += ' (what was left of the budget)' }
      $timedOut += $name
    }
    elseif ($run.ExitCode -ne 0) { $problem = "exit code $($run.ExitCode)" }
    elseif ($run.LogProblem -ne '') { $problem = $run.LogProblem }
    elseif (-not $closed) { $problem = 'ended without the closing PASSED line' }
    elseif ($caseSkips -gt 0 -and $NoSkipIn -contains $name) { $problem = "$caseSkips cases skipped where none may be" }
    # An unreadable log hides what the program said: a failure of its own.
    if ($run.LogProblem -ne '' -and $problem -ne $run.LogProblem) { $problem += '; ' + $run.LogProblem }

    if ($problem -eq '') {
      $passed += 1
      Write-Host ("PASS  {0}  ({1} skipped)" -f $name, $caseSkips)
    } else {
      $failed += 1
      Write-Host $run.Output
      Write-Host ("FAIL  {0}  ({1})" -f $name, $problem)
    }
    Show-Skips $lines
  }

  # The guard's self-test, as a user runs it.
  $guard = Invoke-Program (Join-Path $folder 'FreezeGuard.exe') @('--self-test') 'FreezeGuard-self-test' ([Math]::Max(60, (Get-Allowance)))
  if ($guard.Finished -and $guard.ExitCode -eq 0) {
    $passed += 1
    Write-Host 'PASS  FreezeGuard --self-test'
  } else {
    $failed += 1
    Write-Host $guard.Output
    if (-not $guard.Finished) { $timedOut += 'FreezeGuard --self-test' }
    Write-Host ("FAIL  FreezeGuard --self-test  (exit code {0})" -f $guard.ExitCode)
  }
} catch {
  $failed += 1
  Write-Host "FAIL  run-tests.ps1 stopped: $_"
} finally {
  if (-not $keepLogs) { Remove-Item -Recurse -Force $logs -ErrorAction SilentlyContinue }
  if ($timedOut.Count -gt 0) { Write-Host ("timed out: {0}" -f ($timedOut -join ', ')) }
  Write-Host ("{0} passed, {1} failed, {2} skipped" -f $passed, $failed, $skipped)
}
if ($failed -gt 0) { exit 1 }
exit 0
