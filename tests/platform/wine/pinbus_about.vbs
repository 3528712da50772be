' AboutBox from a script under Wine's cscript: the call returns only when the box is closed
' (pinbus_ui.exe watch-about closes it with OK after checking that "after" is not written yet).
Set p = CreateObject("PINBUS.PinbusCtrl.1")
p.Address = &H2F8
WScript.Echo "before AboutBox"
p.AboutBox
WScript.Echo "after AboutBox " & Hex(p.Address) & " " & p.Bits
