// The page's behaviour: every exchange with the running client goes through
// JSONP calls to its local listener (http://127.0.0.1:<port>/, the port from
// this page's own "?port=" or 39477), so the page works opened from disk or
// from any origin. Each call is a script tag whose answer calls back a
// function of ours; the parameters come before "callback", and a changing
// parameter closes the query, since the client takes a value up to the next
// "&" or to the end of the whole request text.
(function () {
  'use strict';

  var DEFAULT_PORT = '39477';
  var QUICK_MS = 5000;       // answers the client gives from what it holds
  var EXCHANGE_MS = 120000;  // answers that wait for the server
  var PHONE_KEY = 'tessarin.phone';
  var NOT_RUNNING = 'Клиент Tessarin не запущен или веб-интерфейс выключен.';
  var HIDDEN_PASSWORD = '************';  // the client keeps its stored password for this value

  var FRAME_POLICY = '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; ' +
    'style-src \'unsafe-inline\'; img-src data:">';
  var STATUS = { 1: ['Новый', 'new'], 2: ['Подписан', 'signed'], 3: ['Отказано', 'refused'], 4: ['Отправляется', 'sending'] };
  var KIND = { 1: 'Электронный документ', 2: 'Запрос сертификата' };

  // The bits of an "info" answer's "Buttons": which actions the document
  // allows. The client clears sign and refuse once the document is
  // answered, sign and show when it cannot be read and verified, show and
  // save for a certificate request; 0x02 and 0x10 it always leaves set, and
  // the page has no use for them.
  var BUTTON_SIGN = 0x01, BUTTON_SHOW = 0x04, BUTTON_SAVE = 0x08, BUTTON_REJECT = 0x20;

  // The settings the page knows how to show, by group; any other one gets a
  // plain field under "Прочее".
  var SETTINGS = [
    { name: 'IDC_PHONE', group: 'Пользователь', label: 'Номер телефона', hint: '12 цифр, например 375291234567', kind: 'phone' },
    { name: 'IDC_CERT', group: 'Ключ ЭЦП', label: 'Сертификат ГосСУОК', kind: 'certificate' },
    { name: 'IDC_PASS', group: 'Ключ ЭЦП', label: 'Пароль от ключа ЭЦП', kind: 'password' },
    { name: 'IDC_BRANCH', group: 'Ключ ЭЦП', label: 'Код филиала', hint: '4 цифры или пусто', kind: 'branch' },
    { name: 'IDC_SECURE', group: 'Ключ ЭЦП', label: 'Запрашивать пароль при открытии', kind: 'check' },
    { name: 'IDC_SERVICE', group: 'Обмен с учетной системой', label: 'Обмен с учетной системой', kind: 'check' },
    { name: 'IDC_PATH', group: 'Обмен с учетной системой', label: 'Каталог обмена' },
    { name: 'IDC_FACE', group: 'Руководитель', label: 'В лице' },
    { name: 'IDC_BASE', group: 'Руководитель', label: 'Действующего на основании' },
    { name: 'IDC_POST', group: 'Руководитель', label: 'Должность руководителя' },
    { name: 'IDC_NAME', group: 'Руководитель', label: 'ФИО руководителя' }
  ];

  var $ = function (id) { return document.getElementById(id); };
  var query = new URLSearchParams(window.location.search);
  var port = /^\d{1,5}$/.test(query.get('port') || '') ? query.get('port') : DEFAULT_PORT;
  // Rows of the list asked for at a time (the client pages its list).
  var pageRows = /^\d{1,4}$/.test(query.get('rows') || '') ? Math.min(Math.max(Number(query.get('rows')), 1), 1000) : 50;
  var base = 'http://127.0.0.1:' + port + '/';
  // The key the client gave this page when it opened it (when its settings
  // ask for one): sent with every call.
  var token = /^[0-9A-Fa-f]{32}$/.test(query.get('token') || '') ? query.get('token') : '';

  var state = { settings: null, certificates: {}, reasons: {}, documents: [], offset: 0, current: null, busy: 0 };

  function storedPhone() {
    try { return window.localStorage.getItem(PHONE_KEY) || ''; } catch (e) { return ''; }
  }
  function storePhone(phone) {
    try { window.localStorage.setItem(PHONE_KEY, phone); } catch (e) { /* a page without storage keeps it till closed */ }
    state.phone = phone;
  }
  function validPhone(phone) {
    return /^\d{12}$/.test(phone) && Number(phone) >= 375291000000;
  }
  state.phone = storedPhone();

  // ---- the calls --------------------------------------------------------

  function ClientError(text) { this.message = text; }
  var serial = 0;

  // Runs one command; resolves with its answer object. Rejects with a
  // ClientError when the client cannot be reached, gives nothing back, or
  // does not answer in time.
  function call(request, parameters, timeout) {
    return new Promise(function (resolve, reject) {
      var name = 'tessarinAnswer' + Date.now().toString(36) + '_' + (++serial);
      var script = document.createElement('script');
      var answered = false;
      var finished = false;
      var timer = null;
      // Once, whichever comes first: the answer, an error, the load, the time.
      function finish() {
        if (finished) return false;
        finished = true;
        clearTimeout(timer);
        window[name] = function () {};  // an answer arriving late finds a function
        script.remove();
        busy(-1);
        return true;
      }
      window[name] = function (answer) {
        answered = true;
        if (finish()) resolve(answer || {});
      };
      script.onerror = function () {
        if (finish()) reject(new ClientError(NOT_RUNNING));
      };
      // The script ran without calling back: the command gave no answer.
      script.onload = function () {
        if (!answered && finish()) {
          reject(new ClientError('Клиент не дал ответа на запрос «' + (request || 'причины отказа') + '».'));
        }
      };
      timer = setTimeout(function () {
        if (finish()) reject(new ClientError(timeout > QUICK_MS ? 'Клиент Tessarin не ответил вовремя.' : NOT_RUNNING));
      }, timeout || QUICK_MS);
      var items = ['request=' + request, 'phone=' + encodeURIComponent(state.phone)];
      Object.keys(parameters || {}).forEach(function (key) {
        items.push(key + '=' + encodeURIComponent(parameters[key]));
      });
      if (token) items.push('token=' + token);
      items.push('callback=' + name, 't=' + Date.now());
      script.src = base + '?' + items.join('&');
      busy(1);
      document.head.appendChild(script);
    });
  }

  function busy(step) {
    state.busy += step;
    document.body.classList.toggle('busy', state.busy > 0);
  }

  // ---- showing ----------------------------------------------------------

  // Texts from the client are HTML of a few tags ("<BR>", the agreement's
  // spans): they are rebuilt from an inert copy keeping only those tags and
  // the colour of a span, so nothing in a sender's name can run or load.
  var KEPT_TAGS = { BR: 1, B: 1, STRONG: 1, I: 1, EM: 1, SPAN: 1, P: 1, DIV: 1, U: 1 };
  var DROPPED_TAGS = { SCRIPT: 1, STYLE: 1, TEMPLATE: 1, NOSCRIPT: 1 };
  function safeFragment(html) {
    var source = new DOMParser().parseFromString('<body>' + (html || '') + '</body>', 'text/html').body;
    var fragment = document.createDocumentFragment();
    (function copy(from, to) {
      Array.prototype.forEach.call(from.childNodes, function (node) {
        if (node.nodeType === Node.TEXT_NODE) {
          to.appendChild(document.createTextNode(node.textContent));
        } else if (node.nodeType === Node.ELEMENT_NODE) {
          if (DROPPED_TAGS[node.tagName]) return;
          if (!KEPT_TAGS[node.tagName]) { copy(node, to); return; }
          var element = document.createElement(node.tagName.toLowerCase());
          if (node.tagName === 'SPAN' && node.style.color) element.style.color = node.style.color;
          if (node.id) element.dataset.field = node.id;
          copy(node, element);
          to.appendChild(element);
        }
      });
    })(source, fragment);
    return fragment;
  }

  function say(text, kind) {
    var line = $('message-line');
    line.replaceChildren(safeFragment(String(text || '').replace(/(<BR>\s*)+$/i, '')));
    line.className = 'message-line' + (kind ? ' ' + kind : '');
    line.hidden = !text;
  }
  function fail(error) {
    say(error instanceof ClientError ? error.message : String(error), 'error');
    if (error instanceof ClientError && error.message === NOT_RUNNING) show('offline');
  }

  function show(view) {
    ['documents', 'document', 'settings', 'offline'].forEach(function (name) {
      $('view-' + name).hidden = name !== view;
    });
    $('nav-documents').classList.toggle('active', view === 'documents' || view === 'document');
    $('nav-settings').classList.toggle('active', view === 'settings');
  }

  function needPhone() {
    if (validPhone(state.phone)) return false;
    say('Укажите номер телефона (12 цифр, начиная с 375) в настройках и сохраните их.', 'error');
    show('settings');
    return true;
  }

  // A dialog over the page: title, body (a node), buttons [text, class, action].
  function dialog(title, body, buttons) {
    $('dialog-title').textContent = title;
    $('dialog-body').replaceChildren(body);
    var row = $('dialog-buttons');
    row.replaceChildren();
    buttons.forEach(function (button) {
      var element = document.createElement('button');
      element.type = 'button';
      element.textContent = button[0];
      if (button[1]) element.className = button[1];
      element.addEventListener('click', function () {
        $('dialog').hidden = true;
        if (button[2]) button[2]();
      });
      row.appendChild(element);
    });
    $('dialog').hidden = false;
    row.firstChild.focus();
  }

  // ---- documents --------------------------------------------------------

  // A documents answer: its message (when it has one) and the list.
  function takeDocuments(answer) {
    if (answer.message) say(answer.message, answer.message.indexOf('Получено') === 0 ? 'ok' : '');
    if (!Array.isArray(answer.documents)) return false;
    state.documents = answer.documents;
    var body = $('documents').tBodies[0];
    body.replaceChildren();
    answer.documents.forEach(function (doc) {
      var row = body.insertRow();
      var status = STATUS[doc.Status] || ['—', ''];
      [doc.Number, doc.TimeIn, doc.Name, doc.UNP, KIND[doc.Type] || '—'].forEach(function (text) {
        row.insertCell().textContent = text;
      });
      var badge = document.createElement('span');
      badge.className = 'badge ' + status[1];
      badge.textContent = status[0];
      row.insertCell().appendChild(badge);
      row.dataset.number = doc.Number;
      row.tabIndex = 0;
      row.title = 'Открыть документ';
      row.addEventListener('click', function () { openDocument(doc.Number); });
      row.addEventListener('keydown', function (event) { if (event.key === 'Enter') openDocument(doc.Number); });
    });
    $('documents-empty').hidden = answer.documents.length > 0;
    $('documents').hidden = answer.documents.length === 0;
    // A client that pages its list tells the whole list's length.
    var paged = typeof answer.total === 'number' && answer.total > answer.documents.length;
    $('pager').hidden = !paged;
    if (paged) {
      $('page-text').textContent = (state.offset + 1) + '–' + (state.offset + answer.documents.length) + ' из ' + answer.total;
      $('page-newer').disabled = state.offset === 0;
      $('page-older').disabled = state.offset + answer.documents.length >= answer.total;
    }
    return true;
  }

  // One page of the list, from row `offset` (the page shown when not given).
  function loadDocuments(offset) {
    if (needPhone()) return Promise.resolve();
    if (typeof offset === 'number') state.offset = Math.max(offset, 0);
    return call('getdocuments', { offset: state.offset, count: pageRows }).then(function (answer) {
      var taken = takeDocuments(answer);
      if (!taken) say(answer.message || 'Список документов не получен.', 'error');
      show('documents');
      return taken;
    }, function (error) {
      fail(error);
      return false;
    });
  }

  function getMessages() {
    if (needPhone()) return Promise.resolve();
    say('Получение сообщений…');
    var button = $('get-messages');
    button.disabled = true;
    return call('getmessages', null, EXCHANGE_MS).finally(function () {
      button.disabled = false;
    }).then(function (answer) {
      if (answer.AGREEMENT) return agree(answer.AGREEMENT);
      return fetched(answer, 'Нет ответа от клиента.');
    }, fail);
  }

  // The answer of a fetch: its message, then the list's first page (the
  // answer itself holds the whole list).
  function fetched(answer, otherwise) {
    if (!Array.isArray(answer.documents)) {
      say(answer.message || otherwise, 'error');
      return;
    }
    var message = answer.message;
    return loadDocuments(0).then(function (taken) {
      if (taken && message) say(message, message.indexOf('Получено') === 0 ? 'ok' : '');
    });
  }

  // The organisation is not registered yet: the user reads the agreement;
  // "Да" registers it and fetches the messages.
  function agree(text) {
    var body = document.createElement('div');
    body.className = 'agreement';
    body.appendChild(safeFragment(text));
    say('');
    dialog('Регистрация в АИС', body, [
      ['Да', 'primary', function () {
        say('Регистрация…');
        call('register', null, EXCHANGE_MS).then(function (answer) {
          return fetched(answer, 'Регистрация не выполнена.');
        }, fail);
      }],
      ['Нет', '', function () { say('Регистрация отменена. Сообщения не получены.'); }]
    ]);
  }

  function openDocument(number, keepMessage) {
    state.current = number;
    if (!keepMessage) say('');
    $('document-title').textContent = 'Документ № ' + number;
    $('document-info').replaceChildren();
    $('document-buttons').hidden = true;
    // A new frame for each document: emptying a frame's srcdoc and filling
    // it again at once can leave it blank.
    var frame = $('document-frame').cloneNode(false);
    frame.removeAttribute('srcdoc');
    frame.hidden = true;
    $('document-frame').replaceWith(frame);
    show('document');
    return call('info', { number: number }).then(function (answer) {
      if (!('Info' in answer)) { say(answer.message || 'Документ не найден', 'error'); return; }
      $('document-info').replaceChildren(safeFragment(answer.Info));
      var bits = Number(answer.Buttons) || 0;
      $('doc-sign').hidden = !(bits & BUTTON_SIGN);
      $('doc-reject').hidden = !(bits & BUTTON_REJECT);
      $('doc-save').hidden = !(bits & BUTTON_SAVE);
      $('document-buttons').hidden = false;
      if (!(bits & BUTTON_SHOW)) return;
      return call('show', { number: number }, EXCHANGE_MS).then(function (page) {
        if (typeof page.html !== 'string') { say(page.message || 'Документ не показан.', 'error'); return; }
        // The frame runs no script; the policy also keeps it from loading
        // anything from elsewhere.
        frame.srcdoc = FRAME_POLICY + page.html;
        frame.hidden = false;
      });
    }).catch(fail);
  }

  // After a sign or a refusal: its message, then the document and the list
  // as the client now has them.
  function afterReply(answer) {
    say(answer.message, answer.operation === 'Ok' ? 'ok' : 'error');
    var number = state.current;
    return call('getdocuments', { offset: state.offset, count: pageRows }).then(function (list) {
      delete list.message;  // the reply's own message stays
      takeDocuments(list);
      return openDocument(number, true);
    }, fail);
  }

  function sign() {
    var number = state.current;
    var text = document.createElement('p');
    text.textContent = 'Подписать электронный документ № ' + number + ' и отправить его отправителю?';
    dialog('Подписание', text, [
      ['Да', 'primary', function () {
        say('Подписание…');
        call('sign', { number: number }, EXCHANGE_MS).then(afterReply, fail);
      }],
      ['Нет', '', null]
    ]);
  }

  // The refusal reasons come with the answer to an empty request.
  function reasons() {
    if (Object.keys(state.reasons).length) return Promise.resolve(state.reasons);
    return call('').then(function (answer) { return (state.reasons = answer.TypeRejection || {}); });
  }

  function reject() {
    reasons().then(askReason, fail);
  }

  function askReason() {
    var number = state.current;
    var body = document.createElement('label');
    body.className = 'field';
    body.append('Причина отказа');
    var select = document.createElement('select');
    select.id = 'reject-reason';
    Object.keys(state.reasons).forEach(function (code) {
      select.add(new Option(state.reasons[code], code));
    });
    body.appendChild(select);
    dialog('Отказ в подписании', body, [
      ['Отказать', 'danger', function () {
        say('Отправка отказа…');
        call('reject', { number: number, rejectcode: select.value }, EXCHANGE_MS).then(afterReply, fail);
      }],
      ['Отмена', '', null]
    ]);
  }

  function save() {
    call('unload', { number: state.current }, EXCHANGE_MS).then(function (answer) {
      say(answer.message, /сохранен/.test(answer.message || '') ? 'ok' : 'error');
    }, fail);
  }

  // ---- settings ---------------------------------------------------------

  function field(setting, value) {
    var label = document.createElement('label');
    label.className = 'field' + (setting.kind === 'check' ? ' check' : '');
    var input;
    if (setting.kind === 'certificate') {
      input = document.createElement('select');
      input.add(new Option('— не выбран —', ''));
      Object.keys(state.certificates).forEach(function (iks) {
        input.add(new Option(state.certificates[iks], iks));
      });
      if (value && !(value in state.certificates)) input.add(new Option('Сертификат не найден: ' + value, value));
      input.value = value;
    } else {
      input = document.createElement('input');
      if (setting.kind === 'check') {
        input.type = 'checkbox';
        input.checked = String(value) === '1';
      } else {
        input.type = setting.kind === 'password' ? 'password' : setting.kind === 'phone' ? 'tel' : 'text';
        input.value = value;
        if (setting.kind === 'phone') input.maxLength = 12;
        if (setting.kind === 'branch') input.maxLength = 4;
      }
    }
    input.name = setting.name;
    input.id = 'setting-' + setting.name;
    var caption = document.createElement('span');
    caption.textContent = setting.label;
    if (setting.kind === 'check') label.append(input, caption); else label.append(caption, input);
    var hintText = setting.kind === 'password' && value === HIDDEN_PASSWORD ? 'Пароль сохранён; звёздочки его не меняют' : setting.hint;
    if (hintText) {
      var hint = document.createElement('small');
      hint.textContent = hintText;
      label.appendChild(hint);
    }
    return label;
  }

  function fillSettings() {
    var values = state.settings;
    var box = $('settings-fields');
    box.replaceChildren();
    var groups = {};
    function group(title) {
      if (!groups[title]) {
        groups[title] = document.createElement('fieldset');
        var legend = document.createElement('legend');
        legend.textContent = title;
        groups[title].appendChild(legend);
        box.appendChild(groups[title]);
      }
      return groups[title];
    }
    var known = {};
    SETTINGS.forEach(function (setting) {
      known[setting.name] = true;
      var value = setting.name === 'IDC_PHONE' && validPhone(state.phone) ? state.phone : values[setting.name];
      if (setting.name in values || setting.name === 'IDC_PHONE') {
        group(setting.group).appendChild(field(setting, value == null ? '' : String(value)));
      }
    });
    Object.keys(values).forEach(function (name) {
      if (!known[name]) group('Прочее').appendChild(field({ name: name, label: name }, String(values[name])));
    });
  }

  function loadSettings() {
    return call('settings').then(function (answer) {
      state.settings = answer.settings || {};
      state.certificates = answer.certificates || {};
      // A page opened on a new computer takes the phone the client keeps.
      if (!validPhone(state.phone) && validPhone(String(state.settings.IDC_PHONE || ''))) {
        storePhone(String(state.settings.IDC_PHONE));
      }
      fillSettings();
      return true;
    });
  }

  function saveSettings(event) {
    event.preventDefault();
    var form = $('settings-form');
    var phone = form.elements.IDC_PHONE.value.trim();
    if (!validPhone(phone)) {
      say('Номер телефона: 12 цифр, не меньше 375291000000.', 'error');
      form.elements.IDC_PHONE.focus();
      return;
    }
    var pairs = '';
    var bad = '';
    Array.prototype.forEach.call(form.elements, function (input) {
      if (!input.name) return;
      var value = input.type === 'checkbox' ? (input.checked ? '1' : '0') : input.value;
      if (/[{}]/.test(value)) bad = input.name;
      pairs += '{' + input.name + '}{' + value + '}';
    });
    if (bad) {
      say('Фигурные скобки в значениях не допускаются (' + bad + ').', 'error');
      return;
    }
    storePhone(phone);
    say('Сохранение настроек…');
    call('update', { data: pairs }, EXCHANGE_MS).then(function (answer) {
      say(answer.message || 'Настройки отправлены.', /сохранены/.test(answer.message || '') ? 'ok' : 'error');
      return loadSettings();
    }).catch(fail);
  }

  // ---- start ------------------------------------------------------------

  function start() {
    say('Подключение к клиенту…');
    loadSettings().then(function () {
      say('');
      reasons().catch(function () {});
      if (validPhone(state.phone)) return loadDocuments(0);
      show('settings');
      needPhone();
    }).catch(fail);
  }

  $('nav-documents').addEventListener('click', function () { loadDocuments(); });
  $('page-newer').addEventListener('click', function () { loadDocuments(state.offset - pageRows); });
  $('page-older').addEventListener('click', function () { loadDocuments(state.offset + pageRows); });
  $('get-messages').addEventListener('click', getMessages);
  $('nav-settings').addEventListener('click', function () {
    show('settings');
    loadSettings().catch(fail);
  });
  $('settings-form').addEventListener('submit', saveSettings);
  $('settings-reload').addEventListener('click', function () { loadSettings().catch(fail); });
  $('doc-sign').addEventListener('click', sign);
  $('doc-reject').addEventListener('click', reject);
  $('doc-save').addEventListener('click', save);
  $('doc-back').addEventListener('click', function () { loadDocuments(); });
  $('retry').addEventListener('click', start);
  document.addEventListener('keydown', function (event) {
    if (event.key === 'Escape' && !$('dialog').hidden) $('dialog-buttons').lastChild.click();
  });
  start();
})();
