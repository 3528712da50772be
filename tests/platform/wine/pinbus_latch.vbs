' Latches a byte into the register the simulated board's switches select, through Pinbus: the
' byte on the data lines, then a rising edge of the strobe (control bit 0) while the PC drives the
' data lines (bit 5 clear). The byte is given as it goes on the wires (the chip holds it bit-
' reversed). Prints "latched BYTE" once every cycle was made; cscript reports nothing for a
' failing script and exits 0, so the caller checks that line.
Option Explicit
Dim p, b
b = CInt(WScript.Arguments(0))
Set p = CreateObject("PINBUS.PinbusCtrl.1")
p.Address = &H378
p.Value = b
p.Address = &H37A
p.Value = 0
p.Value = 1
p.Value = 0
WScript.Echo "latched " & b
