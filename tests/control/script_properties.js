// A page script's view of the control under the system's script host: creation by ProgID,
// property defaults and put rules, indexed getters called like methods, IDVAL.
// cscript has no events and exits 0 on script errors, so every check is caught and counted.
var failures = 0, passes = 0;
function check(name, expected, got) {
    if (expected === got) { passes++; return; }
    failures++;
    WScript.Echo("FAIL " + name + ": expected [" + expected + "] got [" + got + "]");
}

try {
    var ctl = new ActiveXObject("Pelora5.PL5Ctrl");

    var defaults = [
        ["Language", "ko"], ["ProgramTitle", "Pelora"], ["ChildMode", false], ["SilentMode", false],
        ["MaxFileCount", 4294967295], ["MaxUnitFileSize", 2147483648], ["MaxTotalFileSize", 2147483648],
        ["Action", ""], ["InputName", "file"], ["InputTypeArray", false], ["InputNameFixed", false],
        ["InputType", ""], ["UseUnicode", false], ["MakeInlineResponse", false], ["BkImgURL", ""],
        ["ListStyle", ""], ["ShowFullPath", false], ["ShowStatus", true], ["ItemWidth", -1],
        ["DialogListHeight", -1], ["Scrolling", true], ["UseDragDrop", true], ["UseDeleteKey", true],
        ["UseContextMenu", true]
    ];
    for (var i = 0; i < defaults.length; i++)
        check("default " + defaults[i][0], defaults[i][1], ctl[defaults[i][0]]);

    // Script booleans arrive as VARIANT_TRUE / VARIANT_FALSE.
    ctl.UseUnicode = true;   check("UseUnicode put true", true, ctl.UseUnicode);
    ctl.ShowStatus = false;  check("ShowStatus put false", false, ctl.ShowStatus);

    ctl.MaxUnitFileSize = 4294967295; check("unit size clamp", 2147483648, ctl.MaxUnitFileSize);
    ctl.MaxTotalFileSize = 1024;      check("total size stored", 1024, ctl.MaxTotalFileSize);
    ctl.Language = "english";         check("Language two chars", "en", ctl.Language);
    ctl.Language = "jp";              check("Language without pack", "jp", ctl.Language);

    ctl.InputType = "array";
    ctl.InputTypeArray = false;
    check("array type gate", true, ctl.InputTypeArray);

    // Indexed getters called as methods, as pages do.
    check("GetCount()", 0, ctl.GetCount());
    check("GetFileName(0) out of range", "", ctl.GetFileName(0));
    check("IsTempFile(3) out of range", false, ctl.IsTempFile(3));

    var other = new ActiveXObject("Pelora5.PL5Ctrl");
    check("IDVAL stable", ctl.IDVAL, ctl.IDVAL);
    check("IDVAL differs", true, ctl.IDVAL != other.IDVAL);
    var bIdValPut = true;
    try { ctl.IDVAL = 5; } catch (e) { bIdValPut = false; }
    check("IDVAL read-only", false, bIdValPut);
    check("ProgramTitle reset by a new control", "Pelora", ctl.ProgramTitle);
} catch (e) {
    failures++;
    WScript.Echo("FAIL exception: " + e.message + " (" + e.number + ")");
}
WScript.Echo(passes + " passed, " + failures + " failed");
WScript.Quit(failures ? 1 : 0);
