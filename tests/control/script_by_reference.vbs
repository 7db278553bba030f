' Run by cscript inside tests/servers/with_servers.sh, with one argument:
'   post    fields and filters passed as VBScript variables (by reference) are taken, and the
'           upload carries exactly the fields
'   locked  (with a site list in force) a control without a page lists nothing and sends nothing
' Prints PASS, or FAIL with the reason.
Option Explicit
Dim shell, port, up, http, names, values, exts, n, v, answer, count, path

Sub Check(ok, what)
    If Not ok Then
        WScript.Echo "FAIL: " & what
        WScript.Quit 1
    End If
End Sub

' The expanded text may carry its terminator along: only the leading digits count.
Function LeadingDigits(text)
    Dim i
    LeadingDigits = ""
    For i = 1 To Len(text)
        If Mid(text, i, 1) < "0" Or Mid(text, i, 1) > "9" Then Exit For
        LeadingDigits = LeadingDigits & Mid(text, i, 1)
    Next
End Function

Function RecordedCount()
    http.Open "GET", "http://127.0.0.1:" & port & "/_control/count", False
    http.Send
    RecordedCount = CLng(http.responseText)
End Function

Set shell = CreateObject("WScript.Shell")
port = LeadingDigits(shell.ExpandEnvironmentStrings("%PL5_RECORD_PORT%"))
Check port <> "", "run inside tests/servers/with_servers.sh"
Set http = CreateObject("WinHttp.WinHttpRequest.5.1")
http.Open "POST", "http://127.0.0.1:" & port & "/_control/reset", False
http.Send

Set up = CreateObject("Pelora5.PL5Ctrl")
up.Language = "en"
up.Action = "http://127.0.0.1:" & port & "/byref"

If WScript.Arguments(0) = "post" Then
    names = Array("a", "b")
    values = Array("1", "2")
    exts = Array("*.txt", "*.csv")
    n = "k"
    v = "v"
    up.AppendFilter names, exts
    up.AppendFilter n, v
    up.AppendPostData names, values
    up.AppendPostData n, v
    ' Three fields of 90 bytes each and the closing delimiter of 45.
    answer = up.StartUpload()
    Check answer = "received 315 bytes", "the three fields were sent: " & answer
    Check RecordedCount() = 1, "one request"
Else
    path = WScript.ScriptFullName
    up.AddFile path
    Check up.GetCount() = 0, "nothing is listed without an allowed page"
    up.AddTempFile "x.txt", 10, "id"
    Check up.GetCount() = 0, "nothing is listed: " & up.GetCount()
    Check up.ExcuteLocalFile("http://127.0.0.1:" & port & "/opened") = False, "nothing is opened"
    ' No file dialog opens (one would hold the script until the test's time limit).
    up.OpenFile
    Check IsEmpty(up.SelectSingleFile()), "no file is chosen"
    Check up.GetCount() = 0, "nothing is listed after OpenFile"
    answer = up.StartUpload()
    Check IsEmpty(answer) Or answer = "", "no answer: " & answer
    Check RecordedCount() = 0, "no request reached the receiver"
End If
WScript.Echo "PASS"
