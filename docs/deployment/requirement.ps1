# requirement.ps1: writes 1 where Quorvik 2000 lies in one of its usual folders, 0 elsewhere.
$found = @(${env:ProgramFiles(x86)}, $env:ProgramW6432, $env:ProgramFiles, "$env:SystemDrive\Programmi") |
    Where-Object { $_ -and (Test-Path -LiteralPath (Join-Path $_ 'Quorvik\Quorvik.exe') -PathType Leaf) }
if ($found) { 1 } else { 0 }
