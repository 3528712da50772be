' A port cycle the port service refuses reaches the script as an error whose description is the
' service's reason, taken from the error object (the control answers ISupportErrorInfo).
' Prints the error's number and description for the caller to compare; exits 1 when no error came.
Option Explicit
Dim p, v, failures
failures = 0
Set p = CreateObject("PINBUS.PinbusCtrl.1")
On Error Resume Next
v = p.Value
If Err.Number = 0 Then failures = failures + 1
WScript.Echo "get " & Err.Number & " " & Err.Description
Err.Clear
p.Value = 8
If Err.Number = 0 Then failures = failures + 1
WScript.Echo "put " & Err.Number & " " & Err.Description
WScript.Quit failures
