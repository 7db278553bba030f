// Custom action of the MSI (JScript, run by the installer before the registry is written).
// ALLOWEDSITES holds the site patterns separated by ";", "," or spaces; the policy value
// AllowedSites is a list of strings. A property's text is never read again for the installer's
// [~] separator, so this action puts the separated list into the Registry row itself.
function SplitAllowedSites() {
    var parts = String(Session.Property("ALLOWEDSITES")).split(/[;,\s]+/);
    var sites = [];
    for (var i = 0; i < parts.length; i++) {
        // A quote would end the SQL text; no host pattern holds one.
        if (parts[i] != "" && parts[i].indexOf("'") < 0)
            sites.push(parts[i]);
    }
    if (sites.length == 0)
        return 1;
    // One string alone still needs a [~] to be written as a list.
    var value = sites.join("[~]") + (sites.length == 1 ? "[~]" : "");
    var view = Session.Database.OpenView(
        "UPDATE `Registry` SET `Value` = '" + value + "' WHERE `Name` = 'AllowedSites'");
    view.Execute();
    view.Close();
    return 1;
}
