# detection.ps1: writes a line, so that the tool takes the app as installed, only when the
# companion in its protected folder finds Quorvik 2000 holding the Italian texts.
$x86 = ${env:ProgramFiles(x86)}
$tool = Join-Path $(if ($x86) { $x86 } else { $env:ProgramFiles }) 'QuorvikItaliano\quorvik-patch.exe'
$target = @($x86, $env:ProgramW6432, $env:ProgramFiles, "$env:SystemDrive\Programmi") |
    Where-Object { $_ } | ForEach-Object { Join-Path $_ 'Quorvik\Quorvik.exe' } |
    Where-Object { Test-Path -LiteralPath $_ -PathType Leaf } | Select-Object -First 1
if ($target -and (Test-Path -LiteralPath $tool -PathType Leaf)) {
    & $tool check $target | Out-Null
    if ($LASTEXITCODE -eq 5) { "Quorvik 2000 is in Italian: $target" }
}
exit 0
