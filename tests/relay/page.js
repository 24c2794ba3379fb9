// A page's call of the relay, run by the script host:
//   cscript //nologo page.js TITLE_ID TEXT_ID
// prints "ret=<result>". Titles and texts are chosen by id so that form
// feeds and Hangul need not pass through the command line.
try {
  var titles = {
    ulmet: "Ulmet",
    marker: "\uC6B8\uBA54 Ulmet3.0 \uD648",       // a page title holding Ulmet3.0
    near: "Ulmet3 page",
    empty: ""
  };
  var repeat = function (c, n) { var s = ""; while (s.length < n) s += c; return s; };
  var texts = {
    start: "CONTENTS\fSTART\fitem=42\f\uC6B8\uBA54 \uC790\uB8CC",
    view: "CONTENTS\fVIEW\fitem=7",
    lower: "contents\fSTART\fitem=1",
    notice: "NOTICE\fhello \uC6B8\uBA54",
    formfeeds: "\f\f\f",
    long300: "NOTICE\f" + repeat("x", 300),
    huge: "CONTENTS\fSTART\f" + repeat("y", 3000)
  };
  var args = WScript.Arguments;
  var title = titles[args(0)], text = texts[args(1)];
  if (title === undefined || text === undefined) {
    WScript.Echo("unknown title or text id");
    WScript.Quit(3);
  }
  var relay = new ActiveXObject("Brevix.Quillet");
  var ret = relay.SendMessage(title, text);
  WScript.Echo("ret=" + ret);
  relay = null;
} catch (e) {
  WScript.Echo("error: " + e.message + " (" + e.number + ")");
  WScript.Quit(2);
}
WScript.Quit(0);
