// The status page's one document: its styles and its script are inline, and everything it
// shows comes from the station (the status as events, the picture, the time line), so it works
// without any network beyond the station.

namespace noctarbel {

extern const char* const kStatusPageHtml;

const char* const kStatusPageHtml = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Noctarbel - the night now</title>
<style>
  :root { color-scheme: dark; }
  body { margin: 0; font: 15px/1.4 system-ui, sans-serif; background: #111; color: #ddd; }
  header { padding: 10px 14px; background: #1b1b1b; border-bottom: 1px solid #333; }
  header h1 { margin: 0; font-size: 18px; }
  #state { font-size: 20px; font-weight: 600; margin-top: 4px; }
  #state[data-state="emergency"] { color: #ff5a5a; }
  #state[data-state="exposing"] { color: #7fd07f; }
  #state[data-state="waiting"] { color: #e0c060; }
  #banner { display: none; background: #7a1010; color: #fff; padding: 8px 14px; font-weight: 600; }
  main { display: grid; grid-template-columns: minmax(280px, 1fr) minmax(320px, 2fr); gap: 12px; padding: 12px; }
  section { background: #1a1a1a; border: 1px solid #2c2c2c; border-radius: 6px; padding: 10px; min-width: 0; }
  h2 { margin: 0 0 6px; font-size: 14px; text-transform: uppercase; letter-spacing: .05em; color: #999; }
  dl { display: grid; grid-template-columns: auto 1fr; gap: 3px 10px; margin: 0; }
  dt { color: #999; } dd { margin: 0; }
  img { max-width: 100%; height: auto; display: block; background: #000; }
  #log { white-space: pre-wrap; font: 12px/1.3 monospace; max-height: 24em; overflow: auto; margin: 0; }
  .wide { grid-column: 1 / -1; }
  #connection { float: right; font-size: 12px; color: #888; }
  @media (max-width: 700px) {
    main { grid-template-columns: 1fr; padding: 6px; gap: 8px; }
    body { font-size: 14px; }
  }
</style>
</head>
<body>
<header>
  <span id="connection">connecting</span>
  <h1>Noctarbel</h1>
  <div id="state" data-state="idle">idle</div>
  <div id="ut"></div>
</header>
<div id="banner">Rain emergency</div>
<main>
  <section id="now">
    <h2>Now</h2>
    <dl>
      <dt>Row</dt><dd id="row">-</dd>
      <dt>Object</dt><dd id="object">-</dd>
      <dt>Image</dt><dd id="image">-</dd>
      <dt>Roof</dt><dd id="roof">-</dd>
      <dt>Rain</dt><dd id="rain">-</dd>
      <dt>Mount</dt><dd id="mount">-</dd>
      <dt>Camera</dt><dd id="camera">-</dd>
      <dt>Last HFD</dt><dd id="hfd">-</dd>
      <dt>Star offset</dt><dd id="offset">-</dd>
      <dt>Saved</dt><dd id="saved">-</dd>
      <dt>Status</dt><dd id="message">-</dd>
    </dl>
  </section>
  <section id="picture">
    <h2>Latest image</h2>
    <img id="latest" alt="no image yet">
  </section>
  <section id="night" class="wide">
    <h2>The night so far</h2>
    <img id="timeline" alt="no row has ended yet">
  </section>
  <section class="wide">
    <h2>Log</h2>
    <pre id="log"></pre>
  </section>
</main>
<script>
(function () {
  'use strict';
  var token = new URLSearchParams(location.search).get('token');
  function url(path, extra) {
    var query = [];
    if (token) query.push('token=' + encodeURIComponent(token));
    if (extra) query.push(extra);
    return path + (query.length ? '?' + query.join('&') : '');
  }
  function text(id, value) { document.getElementById(id).textContent = value; }
  function number(value, digits, unit) { return value === null || value === undefined ? '-' : value.toFixed(digits) + unit; }
  var shownImages = -1, shownRows = -1;
  function show(s) {
    var state = document.getElementById('state');
    state.textContent = s.text;
    state.setAttribute('data-state', s.state);
    text('ut', s.ut + ' UT');
    document.getElementById('banner').style.display = s.emergency ? 'block' : 'none';
    text('row', s.row ? String(s.row) : '-');
    text('object', s.object || '-');
    text('image', s.images ? s.image + ' of ' + s.images + (s.filter ? ', filter ' + s.filter : '') : '-');
    text('roof', s.roof);
    text('rain', s.rain);
    text('mount', s.altitude === null ? '-' : 'alt ' + number(s.altitude, 1, '\u00b0') + ', az ' +
         number(s.azimuth, 1, '\u00b0') + (s.pierSide ? ', pier ' + s.pierSide : ''));
    text('camera', number(s.cameraTemperature, 1, ' \u00b0C'));
    text('hfd', number(s.lastHfd, 2, ' px'));
    text('offset', s.starOffset ? number(s.starOffset.x, 1, '"') + ' / ' + number(s.starOffset.y, 1, '"') : '-');
    text('saved', String(s.imagesSaved) + (s.lastImage ? ' (' + s.lastImage.split('/').pop() + ')' : ''));
    text('message', s.message || '-');
    var log = document.getElementById('log');
    log.textContent = s.log.join('\n');
    log.scrollTop = log.scrollHeight;
    if (s.imagesTaken !== shownImages && s.imagesTaken > 0) {
      shownImages = s.imagesTaken;
      document.getElementById('latest').src = url('image.jpg', 'n=' + s.imagesTaken);
    }
    if (s.timeline.length !== shownRows && s.timeline.length > 0) {
      shownRows = s.timeline.length;
      document.getElementById('timeline').src = url('timeline.png', 'n=' + shownRows);
    }
  }
  function poll() {
    fetch(url('api/status')).then(function (r) { return r.json(); }).then(show).catch(function () {});
  }
  if (window.EventSource) {
    var events = new EventSource(url('api/events'));
    events.onmessage = function (e) { text('connection', 'live'); show(JSON.parse(e.data)); };
    events.onerror = function () {
      text('connection', 'reconnecting');
      // Refused (too many pages follow the station): asked every few seconds instead.
      if (events.readyState === EventSource.CLOSED) { text('connection', 'polling'); setInterval(poll, 3000); }
    };
  } else {
    setInterval(poll, 3000);
  }
  poll();
})();
</script>
</body>
</html>
)html";

}  // namespace noctarbel
