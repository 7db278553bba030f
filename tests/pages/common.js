// What the test pages share, loaded by each before its own script (<script src>, from the page's
// folder). A page pushes what its handlers hear to log; a failed check names them.
var log = [];
var shell = new ActiveXObject("WScript.Shell"), fso = new ActiveXObject("Scripting.FileSystemObject");

function check(bOk, strWhat) {
    if (!bOk) host.Fail(strWhat + (log.length ? " (events: " + log.join("; ") + ")" : ""));
}

// An environment variable; the expanded text may carry its terminator along.
function env(strName) {
    var str = shell.ExpandEnvironmentStrings("%" + strName + "%"), n = str.indexOf(String.fromCharCode(0));
    return n < 0 ? str : str.substring(0, n);
}

// The port of a test server that tests/servers/with_servers.sh (or with_throttle.sh) started.
function port(strName) {
    var strPort = String(parseInt(env(strName), 10));
    check(strPort != "NaN", "no " + strName + ": run the page through its ctest entry, inside with_servers.sh");
    return strPort;
}

// The recording server's /_control/ requests (tests/servers/record_server.py); strServer
// ("address:port") names another one than that of with_servers.sh.
function control(strWhat, strBody, strServer) {
    var request = new ActiveXObject("WinHttp.WinHttpRequest.5.1");
    strServer = strServer || "127.0.0.1:" + port("PL5_RECORD_PORT");
    request.Open(strBody ? "POST" : "GET", "http://" + strServer + "/_control/" + strWhat, false);
    request.Send(strBody || "");
    check(request.Status == 200, "the recording server answered " + strWhat + " with " + request.Status);
    return request.ResponseText;
}

// A file of nMegabytes MB in the temporary folder, named for the page and the architecture; its path.
function bigFile(strName, nMegabytes) {
    var strPath = fso.GetSpecialFolder(2).Path + "\\pl5-" + strName + "-" + host.Arch + ".bin";
    var strBlock = "0123456789abcdef";
    while (strBlock.length < 1048576) strBlock += strBlock;
    var stream = fso.CreateTextFile(strPath, true);
    for (var i = 0; i < nMegabytes; i++) stream.Write(strBlock);
    stream.Close();
    return strPath;
}

// The middle of a page element in screen pixels, or the point (dx, dy) inside it.
function at(strId, dx, dy) {
    var r = host.ElementRect(strId).split(",");
    return [dx === undefined ? (+r[0] + +r[2]) >> 1 : +r[0] + dx, dy === undefined ? (+r[1] + +r[3]) >> 1 : +r[1] + dy];
}

// Drags files from the shell's side (tools' dragsource.exe) and lets go at (x, y) in screen pixels,
// serving the page while the drag runs. What the drag source saw: "effect=copy" when a target took
// the drop, "effect=none" when none did.
function drag(x, y, files, strButton) {
    var strDone = env("TEMP") + "\\pl5-drag-done-" + host.Arch + ".txt", strTool = env("PL5_DRAGSOURCE");
    check(strTool.indexOf("%") < 0, "run with PL5_DRAGSOURCE naming tools' dragsource.exe");
    var cmd = '"' + strTool + '" --done "' + strDone + '" --at ' + x + "," + y + (strButton == "right" ? " --right" : "");
    for (var i = 0; i < files.length; ++i) cmd += ' "' + files[i] + '"';
    if (fso.FileExists(strDone)) fso.DeleteFile(strDone);
    var nExit = host.Run(cmd, 20000);  // the page is served while the drag runs; 1: nothing took it
    check(nExit >= 0 && fso.FileExists(strDone), "the drag ended: " + nExit);
    var done = fso.OpenTextFile(strDone), strEffect = done.ReadLine();
    done.Close();
    return strEffect;
}

// Serves the page's messages until fn() holds, asking again each time the page has been painted:
// what a page waits for shows on the screen. At most nMs; then what fn() says.
function untilPainted(fn, nMs) {
    for (var nEnd = new Date().getTime() + (nMs || 8000); !fn();) {
        var nLeft = nEnd - new Date().getTime();
        if (nLeft <= 0 || !host.WaitForPaint(nLeft)) return fn();
    }
    return true;
}
