// The web page in a real browser (headless Chromium through playwright-core)
// against a running client in web mode. Run by web_page_test.cpp, which
// starts the simulator and the client and checks the server's side, and by
// scripts/demo web. Expects a client whose organisation (beta) the server
// does not know yet; once it registered, alpha sends it two documents
// through the simulator's admin API.
//   node page_test.js --page <file://…/index.html?port=N> --admin <http://host:port> --shots <folder>
// Prints what it did ("signed <number>", "refused <number> <code>") and the
// screenshots' paths; exits non-zero at the first failed check.
'use strict';
const path = require('path');
const fs = require('fs');
const { chromium } = require('playwright-core');

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
const PHONE = '375291234567';
const DOCUMENTS = ['<html><body><h2>Счёт-фактура № 17</h2><p>на сумму 1 250,00 BYN</p></body></html>',
                   '<html><body><h2>Акт выполненных работ № 9</h2></body></html>'];
const signText = 'Счёт-фактура';

function check(condition, what) {
  if (!condition) throw new Error('check failed: ' + what);
  console.log('ok - ' + what);
}

let page = null;
(async () => {
  fs.mkdirSync(args.shots, { recursive: true });
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [],
  });
  page = await browser.newPage({ viewport: { width: 1100, height: 760 } });
  page.setDefaultTimeout(30000);
  const line = page.locator('#message-line');
  // The page's calls are over: each answer's follow-ups start before its own ends.
  const settled = () => page.waitForFunction(() => !document.body.classList.contains('busy'));
  const shot = async (name) => {
    const file = path.join(args.shots, name + '.png');
    await page.screenshot({ path: file, fullPage: true });
    console.log('screenshot ' + path.resolve(file));
  };

  // Nobody listens on that port: the page says the client is not running.
  await page.goto(args.page.replace(/port=\d+/, 'port=1'));
  await line.filter({ hasText: 'Клиент Tessarin не запущен' }).waitFor();
  check(await page.locator('#view-offline').isVisible(), 'without the client the page says it is not running');

  // Settings: without a phone the page asks for it; a changed setting is
  // saved and read back after a reload.
  await page.goto(args.page);
  await page.locator('#setting-IDC_NAME').waitFor();
  check(/телефон/i.test(await line.textContent()), 'the page asks for the phone first');
  check((await page.locator('#setting-IDC_CERT option:checked').textContent()).includes('действителен с'),
        'the selected certificate is offered by its description');
  await page.fill('#setting-IDC_PHONE', PHONE);
  await page.fill('#setting-IDC_NAME', 'Петров П.П.');
  await page.click('#settings-save');
  await line.filter({ hasText: 'Настройки сохранены.' }).waitFor();
  await page.reload();
  await page.locator('#view-documents').waitFor();  // the stored phone opens the list
  await page.click('#nav-settings');
  await page.locator('#setting-IDC_NAME').waitFor();
  check(await page.inputValue('#setting-IDC_NAME') === 'Петров П.П.', 'a saved setting comes back after a reload');
  check(await page.inputValue('#setting-IDC_PHONE') === PHONE, 'the phone is kept');
  await shot('settings');

  // Getting the messages: the unknown organisation reads the agreement and
  // registers; then alpha sends it two documents and the list fills.
  await page.click('#get-messages');
  await page.locator('#dialog').waitFor();
  check((await page.textContent('#dialog-body')).includes('будет произведена регистрация'), 'the agreement is shown');
  await page.click('#dialog-buttons >> text=Да');
  await line.filter({ hasText: 'Нет новых сообщений' }).waitFor();
  for (const content of DOCUMENTS) {
    const answer = await fetch(args.admin + '/messages', {
      method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ from: 'alpha', to: 'beta', type: 52, content }),
    });
    check(answer.status === 201, 'alpha sends beta a document');
  }
  await page.click('#get-messages');
  const rows = page.locator('#documents tbody tr');
  await rows.nth(1).waitFor();
  check(await rows.count() === 2, 'the list holds both documents');
  check(/Получено новых сообщений - 2/.test(await line.textContent()), 'the answer\'s message is shown');
  await shot('main');

  // Each document opens with its page; the one with the sign text is signed,
  // the other refused with a chosen reason.
  const numbers = await rows.evaluateAll((all) => all.map((row) => row.dataset.number));
  for (const number of numbers) {
    await page.click(`#documents tr[data-number="${number}"]`);
    await page.waitForFunction(() => document.getElementById('document-frame').srcdoc.length > 0);
    const content = await page.frameLocator('#document-frame').locator('body').textContent();
    check(content.length > 0, `document ${number} shows its page`);
    check((await page.textContent('#document-info')).includes('Отправитель'), `document ${number} has its description`);
    if (content.includes(signText)) {
      await shot('document');
      await page.click('#doc-save');
      await line.filter({ hasText: 'Электронный документ сохранен' }).waitFor();
      await page.click('#doc-sign');
      await page.click('#dialog-buttons >> text=Да');
      await line.filter({ hasText: 'Сообщение отправлено' }).waitFor();
      await settled();
      check(await page.locator('#doc-sign').isHidden(), `document ${number} signed: no sign button any more`);
      console.log('signed ' + number);
    } else {
      await page.click('#doc-reject');
      const reasons = await page.locator('#reject-reason option').count();
      check(reasons === 7, 'seven refusal reasons are offered');
      await page.selectOption('#reject-reason', '121');
      await page.click('#dialog-buttons >> text=Отказать');
      await line.filter({ hasText: 'Сообщение отправлено' }).waitFor();
      await settled();
      check(await page.locator('#doc-reject').isHidden(), `document ${number} refused: no refuse button any more`);
      console.log('refused ' + number + ' 121');
    }
    await page.click('#doc-back');
    await page.locator('#view-documents').waitFor();
  }
  await settled();
  const statuses = await page.locator('#documents .badge').allTextContents();
  check(statuses.sort().join(',') === 'Отказано,Подписан', 'the list shows one signed and one refused');
  await shot('answered');

  // A list longer than a page is paged: with one row a page, the second
  // page holds the other document.
  await page.goto(args.page + '&rows=1');
  await page.locator('#pager').waitFor();
  check(await page.textContent('#page-text') === '1–1 из 2', 'the first page of one row');
  const first = await rows.first().getAttribute('data-number');
  await page.click('#page-older');
  await page.locator('#page-text', { hasText: '2–2 из 2' }).waitFor();
  check(await rows.first().getAttribute('data-number') !== first, 'the second page holds the other document');
  await browser.close();
  console.log('page test passed');
})().catch(async (error) => {
  console.error(error.stack || String(error));
  if (page) {
    const file = path.resolve(args.shots, 'failure.png');
    await page.screenshot({ path: file, fullPage: true }).then(() => console.error('screenshot ' + file), () => {});
    console.error('message line: ' + (await page.textContent('#message-line').catch(() => '')));
  }
  process.exit(1);
});
