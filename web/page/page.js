'use strict';
// The page of relo-web: the eight switches follow /api/live; a press sends a
// PUT and shows the switch as pending until the answer comes.
(function () {
  const switches = Array.from(document.querySelectorAll('.switch'));
  const allOff = document.getElementById('all-off');
  const message = document.getElementById('message');
  const link = document.getElementById('link');
  const linkText = document.getElementById('link-text');
  const panel = document.getElementById('panel');
  const login = document.getElementById('login');
  const password = document.getElementById('password');
  const loginError = document.getElementById('login-error');
  let state = null;
  let socket = null;
  let retryMs = 500;
  let retryTimer = null;

  function setLink(kind, text) {
    link.dataset.state = kind;
    linkText.textContent = text;
  }

  function showSwitch(button, on) {
    button.setAttribute('aria-pressed', on ? 'true' : 'false');
    button.querySelector('img').src = on ? 'on.png' : 'off.png';
    button.querySelector('.state').textContent = on ? 'açık' : 'kapalı';
  }

  function render(next) {
    state = next;
    switches.forEach(function (button, i) {
      button.disabled = false;
      if (button.getAttribute('aria-busy') !== 'true')
        showSwitch(button, state.channels[i]);
    });
    allOff.disabled = false;
  }

  function showLogin() {
    panel.hidden = true;
    allOff.hidden = true;
    login.hidden = false;
    setLink('wait', 'Parola gerekli');
    password.focus();
  }

  function showPanel() {
    login.hidden = true;
    panel.hidden = false;
    allOff.hidden = false;
  }

  // Sends one change; `busy` are the switches shown pending meanwhile.
  async function send(path, body, busy) {
    busy.forEach(function (button) { button.setAttribute('aria-busy', 'true'); });
    let answer = null;
    let reply = {};
    try {
      answer = await fetch(path, { method: 'PUT', body: body, credentials: 'same-origin',
                                   headers: { 'Content-Type': 'text/plain' } });
      reply = await answer.json().catch(function () { return {}; });
    } catch (e) {
      answer = null;
    }
    busy.forEach(function (button) { button.removeAttribute('aria-busy'); });
    if (answer && answer.status === 200) {
      message.textContent = reply.saved === false ? 'Gönderildi, ama ayar.ini kaydedilemedi' : '';
      render(reply);
      return;
    }
    if (answer && answer.status === 401) {
      showLogin();
      return;
    }
    message.textContent = !answer ? 'relo-web\'e ulaşılamadı'
                                  : reply.error || ('Hata ' + answer.status);
    if (state)
      render(state);
  }

  switches.forEach(function (button) {
    button.addEventListener('click', function () {
      if (!state || button.getAttribute('aria-busy') === 'true')
        return;
      const on = button.getAttribute('aria-pressed') !== 'true';
      send('api/channels/' + button.dataset.channel, on ? 'ON' : 'OFF', [button]);
    });
  });
  allOff.addEventListener('click', function () {
    if (state)
      send('api/mask', '0', switches);
  });

  function reconnect() {
    if (retryTimer === null) {
      retryTimer = setTimeout(function () { retryTimer = null; start(); }, retryMs);
      retryMs = Math.min(retryMs * 2, 5000);
    }
  }

  function listen() {
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    socket = new WebSocket(scheme + location.host + '/api/live');
    socket.onopen = function () {
      retryMs = 500;
      setLink('ok', 'Bağlı');
    };
    socket.onmessage = function (event) {
      render(JSON.parse(event.data));
    };
    socket.onclose = function () {
      socket = null;
      switches.forEach(function (button) { button.disabled = true; });
      allOff.disabled = true;
      setLink('down', 'relo-web\'e bağlantı yok; yeniden bağlanılıyor…');
      reconnect();
    };
  }

  // Asks for the state first: it tells whether a password is needed.
  async function start() {
    let answer = null;
    try {
      answer = await fetch('api/state', { credentials: 'same-origin' });
    } catch (e) {
      answer = null;
    }
    if (answer && answer.status === 401) {
      showLogin();
      return;
    }
    if (!answer || answer.status !== 200) {
      setLink('down', 'relo-web\'e bağlantı yok; yeniden bağlanılıyor…');
      reconnect();
      return;
    }
    showPanel();
    render(await answer.json());
    if (!socket)
      listen();
  }

  login.addEventListener('submit', async function (event) {
    event.preventDefault();
    loginError.textContent = '';
    let answer = null;
    try {
      answer = await fetch('api/login', { method: 'POST', body: password.value,
                                          credentials: 'same-origin' });
    } catch (e) {
      answer = null;
    }
    if (answer && answer.status === 204) {
      password.value = '';
      start();
      return;
    }
    const status = answer ? answer.status : 0;
    loginError.textContent = status === 401 ? 'Yanlış parola'
      : status === 429 ? 'Çok fazla deneme; biraz sonra yeniden deneyin'
        : 'relo-web\'e ulaşılamadı';
  });

  start();
})();
