// Scripts of the program's local pages (the advice page and the new-version page load them from
// the folder the program unpacks them into).
(function (global) {
  "use strict";

  // Reads a query parameter of the page's address; "" when absent.
  function queryParameter(name) {
    var query = global.location ? global.location.search.replace(/^\?/, "") : "";
    var parts = query.split("&");
    for (var i = 0; i < parts.length; i++) {
      var pair = parts[i].split("=");
      if (decodeURIComponent(pair[0]) === name) {
        return pair.length > 1 ? decodeURIComponent(pair.slice(1).join("=")) : "";
      }
    }
    return "";
  }

  // Asks the program to open an address (the program intercepts its own action addresses).
  function openAction(address) {
    global.location.href = address;
  }

  global.quorvane = { queryParameter: queryParameter, openAction: openAction };
})(this);
