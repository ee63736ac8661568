// The fleet page in a real browser: Export-QuickBootFleetReport writes the pages of a 10-machine
// fleet (hand-made, with markup in its names and an earlier snapshot) and of a generated
// 100,000-machine fleet; headless Chromium, driven by playwright-core, opens each file as an
// administrator would and reads what it shows, with the script and without. Prints the pages'
// sizes and times (figures, never asserted) and keeps screenshots in the output folder.
// Needs scripts/install-deps: PowerShell 7 and playwright-core in build/tools, Debian's chromium.
// Usage: node report_browser_test.js OUTPUT_DIR
'use strict';
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const source = path.resolve(__dirname, '../..');
const tools = path.join(source, 'build/tools');
const { chromium } = require(path.join(tools, 'node/node_modules/playwright-core'));
const output = path.resolve(process.argv[2] || path.join(source, 'build/report'));

const fleet10 = {
  machines: [
    machine('PC-0001', 'compliant', 'quick_boot_on', 'Contoso', 'Alpha 14', '1.2.0'),
    machine('PC-0002', 'compliant', 'quick_boot_on', 'Contoso', 'Alpha 14', '1.2.0'),
    machine('PC-0003', 'compliant', 'quick_boot_off', 'Contoso', 'Alpha 16', '1.3.1'),
    machine('PC-0004', 'repaired', 'quick_boot_on', 'Contoso', 'Alpha 16', '1.3.1'),
    machine('PC-0005', 'drift', 'quick_boot_off', 'Fabrikam', 'Bravo 5', '2.0.1', 'quick boot is off, wanted on'),
    machine('PC-0006', 'error', 'library_hung', 'Fabrikam', 'Bravo 5', '2.0.1', 'the library did not return within 20 seconds'),
    machine('PC-0007', 'error', 'library_hung', 'Fabrikam', 'Bravo 5', '2.0.0', 'the library did not return within 20 seconds'),
    machine('PC-0008 & "lab"', 'error', 'file_missing', 'Tailspin <b>Toys</b>',
      '<script>window.injected = 1</script>Charlie 2', '0.9', 'no file at C:\\Vendor\\<img src=x onerror="window.injected=2">.dll'),
    machine('PC-0009', 'not_applicable', 'key_missing', 'Contoso', 'Alpha 14', '1.2.0', 'the control library was never registered'),
    machine('PC-0010', 'error', 'control_library_failed', 'Contoso', 'Alpha 16', '1.3.1', 'quickboot.exe answered 100'),
  ],
  previous: {
    machines: [
      machine('PC-0003', 'error', 'file_missing'),
      machine('PC-0006', 'compliant', 'quick_boot_on'),
      machine('PC-0007', 'error', 'library_hung'),
      machine('PC-0010', 'error', 'control_library_failed'),
    ],
  },
};

// 100,000 machines, 10,000 of them to look at (6,200 failing); machine i is of model i mod 8.
const models = [['Contoso', 'Alpha 14'], ['Contoso', 'Alpha 16'], ['Fabrikam', 'Bravo 5'], ['Fabrikam', 'Bravo 7'],
  ['Tailspin', 'Charlie 2'], ['Tailspin', 'Charlie 3'], ['Northwind', 'Delta 1'], ['Northwind', 'Delta 9']];
const groups = [
  ['compliant', 'quick_boot_on', 85000], ['compliant', 'quick_boot_off', 3000], ['repaired', 'quick_boot_on', 2000],
  ['drift', 'quick_boot_off', 2800], ['not_applicable', 'key_missing', 1000], ['error', 'library_hung', 2500],
  ['error', 'file_missing', 1500], ['error', 'dependency_missing', 1000], ['error', 'write_in_progress', 600],
  ['error', 'control_library_failed', 400], ['error', 'timed_out', 200],
];
const fleet100k = { models, groups: groups.map(([outcome, cause, count]) => ({ outcome, cause, count })) };

function machine(ComputerName, Outcome, Cause, Manufacturer = '', Model = '', Firmware = '', Reason = `${Outcome} ${Cause}`) {
  return { ComputerName, Outcome, Cause, Reason, Manufacturer, Model, Firmware, FirmwareDate: '2025-01-10', Version: '1.0.0' };
}

// Machines of the 100,000 fleet with this cause and model (the heat table's cell).
function generatedCount(cause, model) {
  let start = 0;
  let count = 0;
  for (const [, groupCause, size] of groups) {
    if (groupCause === cause) {
      for (let i = start; i < start + size; i++) count += models[i % models.length][1] === model ? 1 : 0;
    }
    start += size;
  }
  return count;
}

function run(command, args) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, NO_COLOR: '1' } });
    let text = '';
    child.stdout.on('data', (data) => { text += data; });
    child.stderr.on('data', (data) => { text += data; });
    child.on('error', reject);
    child.on('close', (code) => (code === 0 ? resolve(text.trim()) : reject(new Error(`${command} ${args.join(' ')}: ${text}`))));
  });
}

async function writePage(name, fleet, title) {
  const json = path.join(output, `${name}.json`);
  const html = path.join(output, `${name}.html`);
  fs.writeFileSync(json, JSON.stringify(fleet));
  const seconds = await run(path.join(tools, 'pwsh'), ['-NoProfile', '-NonInteractive', '-File',
    path.join(__dirname, 'report_fleet.ps1'), path.join(source, 'powershell/QuickBoot/QuickBoot.psd1'), json, html, title]);
  const bytes = fs.statSync(html).size;
  console.log(`${name}: ${bytes} bytes, written in ${seconds} s`);
  return { html, bytes };
}

// Opens the page; every request it makes, every error and every console message is kept.
async function open(browser, file, options = {}) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 }, ...options });
  const page = await context.newPage();
  page.setDefaultTimeout(180000);  // a hundred thousand machines on a loaded machine; never a timing check
  const seen = { requests: [], problems: [] };
  page.on('request', (request) => seen.requests.push(request.url()));
  page.on('pageerror', (error) => seen.problems.push(error.message));
  page.on('console', (message) => seen.problems.push(`${message.type()}: ${message.text()}`));
  const url = `file://${file}`;
  await page.goto(url, { waitUntil: 'load' });
  const loaded = await page.evaluate(() => performance.getEntriesByType('navigation')[0].loadEventEnd);
  return { context, page, seen, url, loaded };
}

const cells = (locator) => locator.evaluateAll((rows) => rows.map((row) => [...row.cells].map(
  (cell) => cell.textContent.replace(/\s+/g, ' ').trim())));
const text = (locator) => locator.evaluateAll((nodes) => nodes.map((node) => node.textContent.replace(/\s+/g, ' ').trim()));
const headline = (page) => page.$$eval('.tiles dd', (nodes) => Object.fromEntries(
  nodes.map((node) => [node.id, node.firstChild.textContent.replace(/\s+/g, ' ').trim()])));
const shown = (page) => page.$$eval('#machines tbody tr', (rows) => rows.filter((row) => !row.hidden).map((row) => row.cells[0].textContent));
const heatCell = (page, model, cause) => page.evaluate(([model, cause]) => {
  const table = document.querySelector('table.heat');
  const column = [...table.tHead.rows[0].cells].findIndex((cell) => cell.textContent === cause);
  const row = [...table.tBodies[0].rows].find((candidate) => candidate.cells[1].textContent === model);
  return row.cells[column].textContent;
}, [model, cause]);

// Text whose contrast with what lies behind it is under WCAG AA (4.5:1, or 3:1 for large text),
// from the computed colours; the backgrounds are solid colours.
const lowContrast = (page) => page.evaluate(() => {
  const rgb = (text) => text.match(/[\d.]+/g).map(Number);
  const luminance = ([r, g, b]) => [r, g, b].map((v) => v / 255)
    .map((v) => (v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4))
    .reduce((sum, v, i) => sum + v * [0.2126, 0.7152, 0.0722][i], 0);
  const background = (element) => {
    for (let node = element; node; node = node.parentElement) {
      const colour = rgb(getComputedStyle(node).backgroundColor);
      if (colour.length < 4 || colour[3] > 0) return colour;
    }
    return [255, 255, 255];
  };
  const found = [];
  for (const element of document.querySelectorAll('body *')) {
    const text = [...element.childNodes].filter((node) => node.nodeType === 3).map((node) => node.textContent).join('').trim();
    if (!text || !element.getClientRects().length) continue;
    const style = getComputedStyle(element);
    const [a, b] = [luminance(rgb(style.color)), luminance(background(element))].sort((x, y) => y - x);
    const ratio = (a + 0.05) / (b + 0.05);
    const size = parseFloat(style.fontSize);
    const large = size >= 24 || (size >= 18.66 && Number(style.fontWeight) >= 700);
    if (ratio < (large ? 3 : 4.5)) found.push(`${text.slice(0, 30)}: ${ratio.toFixed(2)}`);
  }
  return found;
});

async function typeFilter(page, words, expected) {
  await page.fill('#filter', words);
  await page.waitForFunction((want) => document.getElementById('shown').textContent === want, expected);
}

async function checkSmallFleet(browser, file) {
  const { context, page, seen, url, loaded } = await open(browser, file);
  console.log(`10 machines: loaded in ${Math.round(loaded)} ms`);
  assert.deepEqual(await headline(page), {
    total: '10', share: '30.0 %', compliant: '3', repaired: '1', drift: '1', 'not-applicable': '1', failing: '4',
  });
  // The bars' labels: outcome, cause, count and share, as text.
  assert.deepEqual((await cells(page.locator('table.results tbody tr'))).map((row) => row.slice(0, 4).join(' | ')), [
    'compliant | quick_boot_on | 2 | 20.0 %', 'compliant | quick_boot_off | 1 | 10.0 %', 'drift | quick_boot_off | 1 | 10.0 %',
    'repaired | quick_boot_on | 1 | 10.0 %', 'not_applicable | key_missing | 1 | 10.0 %', 'error | library_hung | 2 | 20.0 %',
    'error | control_library_failed | 1 | 10.0 %', 'error | file_missing | 1 | 10.0 %',
  ]);
  assert.match(await page.textContent('table.results tbody tr:nth-child(6)'), /did not return within the time limit.*restart the machine/);
  assert.match(await page.textContent('table.results tbody tr:nth-child(3)'), /Quick boot is off, not the state wanted/);
  assert.equal(await heatCell(page, 'Bravo 5', 'library_hung'), '2');
  assert.equal(await heatCell(page, 'Alpha 16', 'library_hung'), '0');
  assert.deepEqual(await lowContrast(page), []);
  assert.equal(await page.getAttribute('html', 'lang'), 'en');
  // Markup from the fleet is text: it shows as written and runs nothing.
  assert.equal(await heatCell(page, '<script>window.injected = 1</script>Charlie 2', 'file_missing'), '1');
  assert.equal(await page.evaluate(() => window.injected), undefined);
  assert.equal(await page.locator('#machines tbody tr', { hasText: 'onerror="window.injected=2"' }).count(), 1);
  assert.deepEqual(await text(page.locator('#changes summary')), ['Newly failing: 2', 'Fixed: 1', 'Still failing: 2']);
  assert.deepEqual(await text(page.locator('#newly-failing tbody th')), ['PC-0006', 'PC-0008 & "lab"']);

  assert.deepEqual(await shown(page), ['PC-0006', 'PC-0007', 'PC-0010', 'PC-0008 & "lab"', 'PC-0005', 'PC-0009']);
  assert.equal(await page.textContent('#shown'), '6 of 6 machines');
  await typeFilter(page, 'BRAVO', '3 of 6 machines');
  assert.deepEqual(await shown(page), ['PC-0006', 'PC-0007', 'PC-0005']);
  await typeFilter(page, 'bravo library_hung 2.0.0', '1 of 6 machines');
  assert.deepEqual(await shown(page), ['PC-0007']);
  await typeFilter(page, '', '6 of 6 machines');
  await page.click('#machines th:nth-child(1) button');
  assert.equal(await page.getAttribute('#machines th:nth-child(1)', 'aria-sort'), 'ascending');
  assert.deepEqual(await shown(page), ['PC-0005', 'PC-0006', 'PC-0007', 'PC-0008 & "lab"', 'PC-0009', 'PC-0010']);
  await page.click('#machines th:nth-child(1) button');
  assert.deepEqual((await shown(page))[0], 'PC-0010');
  await page.click('#machines th:nth-child(6) button');  // firmware: 0.9 before 1.2.0 before 2.0.0
  assert.deepEqual(await shown(page), ['PC-0008 & "lab"', 'PC-0009', 'PC-0010', 'PC-0007', 'PC-0006', 'PC-0005']);
  await page.click('#machines th:nth-child(1) button');
  await page.screenshot({ path: path.join(output, 'fleet-report-10.png'), fullPage: true });
  assert.deepEqual(seen.requests, [url]);
  assert.deepEqual(seen.problems, []);
  await context.close();

  // Without the script: the whole table, no controls that would not work.
  const off = await open(browser, file, { javaScriptEnabled: false });
  assert.equal(await off.page.locator('#machines tbody tr').count(), 6);
  assert.equal(await off.page.isVisible('#filter'), false);
  assert.equal(await off.page.locator('#machines th button').count(), 0);
  await off.context.close();

  // The README's picture (docs/fleet-report.png): the whole page, scaled to stay small.
  const picture = await open(browser, file, { deviceScaleFactor: 0.8 });
  await picture.page.screenshot({ path: path.join(output, 'fleet-report.png'), fullPage: true });
  await picture.context.close();
}

async function checkLargeFleet(browser, file) {
  const { context, page, seen, url, loaded } = await open(browser, file);
  assert.deepEqual(await headline(page), {
    total: '100,000', share: '88.0 %', compliant: '88,000', repaired: '2,000', drift: '2,800', 'not-applicable': '1,000', failing: '6,200',
  });
  assert.equal(await heatCell(page, 'Alpha 14', 'library_hung'), generatedCount('library_hung', 'Alpha 14').toLocaleString('en'));
  assert.equal(await heatCell(page, 'Delta 9', 'timed_out'), generatedCount('timed_out', 'Delta 9').toLocaleString('en'));
  // All 10,000 rows are in the page; the script lays out 500 at a time.
  assert.equal(await page.locator('#machines tbody tr').count(), 10000);
  const firstPage = '10,000 of 10,000 machines, the first 500 shown';
  assert.equal(await page.textContent('#shown'), firstPage);
  assert.equal((await shown(page)).length, 500);
  await page.click('#more');
  assert.equal((await shown(page)).length, 1000);
  let started = Date.now();
  await typeFilter(page, 'pc-0999', '100 of 10,000 machines');
  const filtered = Date.now() - started;
  assert.equal(await page.isVisible('#more'), false);
  await typeFilter(page, '', firstPage);
  started = Date.now();
  await page.click('#machines th:nth-child(1) button');
  await page.click('#machines th:nth-child(1) button');
  const sorted = (Date.now() - started) / 2;
  assert.equal((await shown(page))[0], 'PC-099999');
  await page.evaluate(() => { document.querySelector('#machines').parentElement.scrollTop = 0; window.scrollTo(0, 0); });
  await page.screenshot({ path: path.join(output, 'fleet-report-100000.png'), fullPage: true });
  assert.deepEqual(seen.requests, [url]);
  assert.deepEqual(seen.problems, []);
  await context.close();
  console.log(`100,000 machines: loaded in ${Math.round(loaded)} ms, filtered in ${filtered} ms, sorted in ${sorted} ms`);

  const off = await open(browser, file, { javaScriptEnabled: false });
  assert.equal(await off.page.locator('#machines tbody tr').count(), 10000);
  assert.equal(await off.page.isVisible('#machines tbody tr:last-child'), true);
  await off.context.close();
}

async function main() {
  fs.mkdirSync(output, { recursive: true });
  const pages = Promise.all([
    writePage('fleet-10', fleet10, 'Quick boot across the fleet'),
    writePage('fleet-100000', fleet100k, 'Quick boot across 100,000 machines'),
  ]);
  // Debian's chromium, never a downloaded one, with no background traffic on a closed network;
  // playwright gives it a fresh, empty --user-data-dir of its own.
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  try {
    const [small, large] = await pages;
    if (large) assert.ok(large.bytes <= 5 * 1024 * 1024, `the 100,000-machine page has ${large.bytes} bytes`);
    await checkSmallFleet(browser, small.html);
    if (large) await checkLargeFleet(browser, large.html);
  } finally {
    await browser.close();
  }
  console.log('the fleet page: all checks passed');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
