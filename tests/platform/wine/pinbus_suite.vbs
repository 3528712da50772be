' Pinbus driven by the platform's own script host (Wine's cscript): created by its ProgID, its
' properties read and written through IDispatch with the conversions of the dispatch layer, the
' standard errors, and the port cycles behind Value. The same calls are in pinbus_suite.ocxhost,
' and the port traces of the two runs must be equal.
'
' cscript reports nothing for a failing script and exits 0, so every check counts its failure and
' the exit status is the number of failures.
Option Explicit
Dim failures, p, v
failures = 0

Sub Check(label, got, want)
  If got = want And TypeName(got) = TypeName(want) Then
    WScript.Echo "ok " & label
  Else
    WScript.Echo "FAIL " & label & ": got " & TypeName(got) & " " & got & ", want " & _
                 TypeName(want) & " " & want
    failures = failures + 1
  End If
End Sub

' Checks the error a statement raised, taken right after it (0: none).
Sub CheckError(label, number, text, want)
  If number = want Then
    WScript.Echo "ok " & label & " (" & number & " " & text & ")"
  Else
    WScript.Echo "FAIL " & label & ": error " & number & " " & text & ", want " & want
    failures = failures + 1
  End If
End Sub

Dim n, d
Set p = CreateObject("PINBUS.PinbusCtrl.1")
Check "TypeName from the type information", TypeName(p), "_DPinbus"
Check "Address starts at the printer port", p.Address, CLng(888)
Check "Bits starts at byte access", p.Bits, CInt(8)

' Byte cycles on the simulated board: the control register reads back what was written.
p.Address = &H37A
p.Value = &H08
Check "control register after out8", p.Value, CLng(8)
p.Value = 12.0
Check "a double is converted to the long Value takes", p.Value, CLng(12)

' Conversions to the declared types: strings, doubles rounded half to even, hex text.
p.Address = "888"
Check "Address from a string", p.Address, CLng(888)
p.Address = 889.5
Check "Address from a double rounds half to even", p.Address, CLng(890)
p.Address = 888.5
Check "Address from 888.5", p.Address, CLng(888)
p.Address = "&H37A"
Check "Address from hex text", p.Address, CLng(890)
p.Bits = "16"
Check "Bits from a string", p.Bits, CInt(16)
p.Bits = 8.4
Check "Bits from a double", p.Bits, CInt(8)

' Any width but 8 and 16 is ignored without an error.
On Error Resume Next
Err.Clear
p.Bits = 12
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckError "Bits 12 is no error", n, d, 0
Check "Bits 12 is ignored", p.Bits, CInt(8)
p.Bits = 16
p.Bits = 12
Check "Bits 12 leaves 16", p.Bits, CInt(16)

' Word cycles: a floating port reads all ones.
p.Address = &H1234
Check "in16 of a floating port", p.Value, CLng(65535)
p.Value = &H1234
p.Bits = 8
Check "in8 of a floating port", p.Value, CLng(255)

' The standard errors of the dispatch layer.
On Error Resume Next
Err.Clear
p.Address = "port"
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckError "text that is no number is a type mismatch", n, d, 13
On Error Resume Next
Err.Clear
p.Bits = 70000
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckError "a Bits out of the short range overflows", n, d, 6
On Error Resume Next
Err.Clear
v = p.Nonexistent
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckError "an unknown member", n, d, 438
On Error Resume Next
Err.Clear
p.Nonexistent = 1
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckError "an unknown member put", n, d, 438
Check "a failed put changes nothing", p.Address, CLng(4660)

' The About box cannot show without a display; the call just returns.
On Error Resume Next
Err.Clear
p.AboutBox
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckError "AboutBox", n, d, 0

p.Address = &H378
p.Value = &H5A
Check "data register", p.Value, CLng(&H5A)

Set p = Nothing
WScript.Echo failures & " failures"
WScript.Quit failures
