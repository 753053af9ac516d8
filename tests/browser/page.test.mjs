// The plugin page in headless Chromium, served by the preview host.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import {
  attr, countAnswers, launchBrowser, openPage, repo, seriousViolations, setStorage, settled, startHost, text, viewerStamp, visit,
} from './harness.mjs';

const DASH = '\u2014';
const DURATION = /^(\d+d \d+h|\d+h \d+m|\d+m|<1m)$/;
const LOCAL = /^\d{4}-\d\d-\d\d \d\d:\d\d$/;

let browser;
let host;
let locked; // a node protected by the password "pw"
let web1; // the example node: fifteen jobs of four users, in Asia/Kolkata

before(async () => {
  [browser, host, locked, web1] = await Promise.all([launchBrowser(), startHost(), startHost({ password: 'pw' }),
    startHost({ crontab: path.join(repo, 'examples/node.crontab'), tz: 'Asia/Kolkata' })]);
});
after(async () => {
  await Promise.all([browser?.close(), host?.stop(), locked?.stop(), web1?.stop()]);
});

// Runs body(page, ...) in a fresh page and checks the console stayed clean
// (or holds exactly the expected errors).
async function withPage(opts, body, expectedErrors = []) {
  const p = await openPage(browser, opts);
  try {
    await body(p.page, p.context);
    assert.deepEqual(p.errors, expectedErrors);
  } finally {
    await p.context.close();
  }
}

const rowsOf = (page) => page.$$eval('#rows tr', (trs) => trs.map((tr) => [...tr.children].map((td) => td.textContent)));
const counters = (page) => page.evaluate(() => ['k-total', 'k-valid', 'k-next', 'k-src'].map((id) => document.getElementById(id).textContent));
const jobsAnswer = (over) => ({ ok: true, action: 'jobs', count: 0, sources: ['fixture'], now_utc: '2026-01-01T00:00:00Z', now_local: '2026-01-01 00:00', jobs: [], ...over });
function routeJobs(page, answer) {
  return page.route((u) => u.searchParams.get('action') === 'jobs', (r) =>
    r.fulfill({ contentType: 'application/json', body: typeof answer === 'string' ? answer : JSON.stringify(answer) }));
}

// A host or proxy in front of the program answers some requests itself, in
// HTML; only the browser's own network line reaches the console then.
const failures = [
  { body: '{"ok":false,"error":"boom"}', note: 'boom' },
  { body: '{"ok":false}', note: 'failed' },
  { body: 'not json', note: 'request failed: HTTP 200 OK, the answer is not JSON' },
  { status: 431, body: '<?xml version="1.0" encoding="iso-8859-1"?>\n<html><body>431 Request Header Fields Too Large</body></html>',
    note: 'request failed: HTTP 431 Request Header Fields Too Large' },
  { status: 502, body: '<html><body><h1>502 Bad Gateway</h1></body></html>', note: 'request failed: HTTP 502 Bad Gateway' },
  { status: 503, body: '{"error":"maintenance"}', note: 'request failed: HTTP 503 Service Unavailable' },
];
const refusedWith = (codes) => codes.map((c) => `Failed to load resource: the server responded with a status of ${c}`);

describe('job table', { concurrency: true }, () => {
  test('rows, counters, badge and note come from the fixture crontab', () => withPage({}, async (page) => {
    await visit(page, host.url + '/plugin');
    await settled(page);
    const answer = await page.evaluate(() => fetch('/plugin?action=jobs').then((r) => r.json()));
    assert.equal(answer.jobs.length, 5);

    assert.equal(await text(page, '#badge'), '5 jobs');
    assert.equal(await page.getAttribute('#badge', 'class'), 'pill on');
    assert.match(await text(page, '#note'), /^Read from: fixture \(as of \d{4}-\d\d-\d\d \d\d:\d\d local\)$/);
    const [total, valid, next, src] = await counters(page);
    assert.deepEqual([total, valid, src], ['5', '4', '1']);
    assert.match(next, /^(<1m|[1-5]m)$/); // the */5 job is the soonest

    const rows = await rowsOf(page);
    assert.equal(rows.length, 5);
    answer.jobs.forEach((job, i) => {
      const meaning = job.valid ? job.description : 'invalid: ' + job.error;
      assert.deepEqual([rows[i][0], rows[i][1], rows[i][2], rows[i][4], rows[i][5], rows[i][6]], [job.source, job.expr, meaning, DASH, DASH, job.command]);
    });
    assert.equal(rows[0][2], 'Every Sunday at midnight');
    assert.equal(rows[2][3], DASH); // @reboot has no clock times
    assert.equal(rows[3][3], DASH); // rejected schedule
    assert.equal(await page.$eval('#rows tr:nth-child(4) td:nth-child(3) div', (d) => d.className), 'err');
    const firstNext = await page.$$eval('#rows tr:nth-child(1) td:nth-child(4) div', (ds) => ds.map((d) => [d.className, d.textContent]));
    assert.equal(firstNext[0][0], 'in');
    assert.match(firstNext[0][1], DURATION);
    assert.deepEqual([firstNext[1][0], firstNext[1][1]], ['src when', await viewerStamp(page, answer.jobs[0].next[0].utc)]);
    assert.equal(await page.isVisible('#empty'), false);
  }));

  test('the filter narrows the rows and the next-run counter only', () => withPage({}, async (page) => {
    await visit(page, host.url + '/plugin');
    await settled(page);
    const cases = [
      { q: '  SUNDAY ', exprs: ['@weekly'] }, // matches the description
      { q: 'poll --queue', exprs: ['*/5 * * * *'] }, // the command
      { q: '61 *', exprs: ['61 * * * *'] }, // the expression
      { q: 'fixture', exprs: ['@weekly', '*/5 * * * *', '@reboot', '61 * * * *', '0 3 * * *'] }, // the source
      { q: 'no-such-job', exprs: [] },
      { q: '', exprs: ['@weekly', '*/5 * * * *', '@reboot', '61 * * * *', '0 3 * * *'] },
    ];
    for (const c of cases) {
      await page.fill('#q', c.q);
      const rows = await rowsOf(page);
      assert.deepEqual(rows.map((r) => r[1]), c.exprs, c.q);
      assert.equal(await text(page, '#qCount'), c.q ? `${c.exprs.length} of 5` : '', c.q);
      const [total, valid, next, src] = await counters(page);
      assert.deepEqual([total, valid, src], ['5', '4', '1'], c.q);
      assert.equal(await page.isVisible('#empty'), c.exprs.length === 0, c.q);
      if (c.exprs.length === 0) {
        assert.equal(next, DASH);
        assert.equal(await text(page, '#empty'), `No job matches \u201c${c.q.trim()}\u201d.`);
      } else if (c.q.trim() === '61 *') {
        assert.equal(next, DASH); // a rejected job has no next run
      } else {
        assert.match(next, DURATION, c.q);
      }
    }
  }));

  test('durations, counts and texts of crafted answers', () => withPage({ timezoneId: 'UTC' }, async (page) => {
    const seconds = [undefined, null, -5, 0, 59, 60, 3600, 3661, 86400, 90061];
    const words = ['never', 'never', 'due', '<1m', '<1m', '1m', '1h 0m', '1h 1m', '1d 0h', '1d 1h'];
    const jobs = seconds.map((s, i) => ({
      source: 'fixture', expr: '* * * * *', command: `job${i}`, valid: true, description: 'd',
      next: [{ utc: 'u', local: `local${i}`, ...(s === undefined ? {} : { in_seconds: s }) }],
    }));
    jobs.push({ source: '<i>s</i>', expr: '@reboot', command: '<img src=x onerror="throw 1">', valid: true, description: '<b>boot</b>', next: [] });
    let answer = jobsAnswer({ count: jobs.length, jobs });
    await page.route((u) => u.searchParams.get('action') === 'jobs', (r) =>
      r.fulfill({ contentType: 'application/json', body: JSON.stringify(answer) }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    assert.deepEqual(await page.$$eval('#rows .in', (ds) => ds.map((d) => d.textContent)), words);
    assert.equal((await counters(page))[2], 'due');
    assert.equal(await text(page, '#badge'), '11 jobs');
    // Texts from the answer are shown as text, never as markup.
    const last = await page.$eval('#rows tr:last-child', (tr) => [tr.textContent, tr.querySelectorAll('b,i,img').length]);
    assert.deepEqual(last, ['<i>s</i>@reboot<b>boot</b>' + DASH + DASH + DASH + '<img src=x onerror="throw 1">', 0]);

    for (const c of [
      { count: 1, sources: [], badge: '1 job', note: 'No crontab sources readable on this node (as of 2026-01-01 00:00 local)' },
      { count: 0, sources: ['fixture', 'schtasks'], badge: '0 jobs', note: 'Read from: fixture, schtasks (as of 2026-01-01 00:00 local)' },
    ]) {
      answer = jobsAnswer({ count: c.count, sources: c.sources, jobs: c.count ? [jobs[3]] : [] });
      await page.click('#reloadBtn');
      await page.waitForFunction((b) => document.getElementById('badge').textContent === b, c.badge);
      assert.equal(await text(page, '#note'), c.note);
      assert.deepEqual(await counters(page), [String(c.count), String(c.count), c.count ? '<1m' : DASH, String(c.sources.length)]);
    }
  }));

  test('problems: warnings beside the job, a counter and a filter', () => withPage({}, async (page) => {
    const ok = { source: '/etc/cron.d/a', kind: 'cron', expr: '0 1 * * *', command: 'true', user: 'root', valid: true, description: 'At 01:00', next: [], warnings: [] };
    const jobs = [
      ok,
      { ...ok, command: 'date +%F', warnings: ['unescaped % in the command: cron runs the command up to it', 'date is not found on cron\'s PATH /usr/bin:/bin'] },
      { ...ok, source: '/etc/cron.d/b.sh', expr: '', command: '', valid: false, error: 'ignored by cron: name contains a dot', description: 'File ignored by cron', warnings: undefined },
      { source: 'fixture', kind: 'cron', expr: '* * * * *', command: 'fixture-job', user: '', valid: true, description: 'Every minute', next: [] },
    ];
    await routeJobs(page, jobsAnswer({ count: jobs.length, jobs }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    // Two warnings and one ignored file.
    assert.equal(await text(page, '#k-prob'), '3');
    const warned = await page.$$eval('#rows tr:nth-child(2) .warns li', (lis) => lis.map((li) => [li.textContent, li.querySelector('.mark').getAttribute('aria-hidden')]));
    assert.deepEqual(warned, [
      ['\u26a0Warning: unescaped % in the command: cron runs the command up to it', 'true'],
      ['\u26a0Warning: date is not found on cron\'s PATH /usr/bin:/bin', 'true'],
    ]);
    assert.equal(await page.getAttribute('#rows tr:nth-child(2) .warns', 'aria-label'), 'Warnings');
    assert.equal(await page.$$eval('#rows .warns', (u) => u.length), 1);
    // A screen reader reads the word, sighted users see the mark.
    assert.equal(await page.$eval('#rows .warns .sr', (e) => getComputedStyle(e).position), 'absolute');
    for (const theme of ['dark', 'light']) {
      await page.evaluate((t) => document.documentElement.setAttribute('data-theme', t), theme);
      assert.deepEqual(await seriousViolations(page), [], theme);
    }

    await page.check('#qProb');
    assert.deepEqual((await rowsOf(page)).map((r) => r[0]), ['/etc/cron.d/a', '/etc/cron.d/b.sh']);
    assert.equal(await text(page, '#qCount'), '2 of 4');
    await page.fill('#q', 'b.sh');
    assert.equal((await rowsOf(page)).length, 1);
    await page.fill('#q', 'fixture-job');
    assert.equal(await text(page, '#empty'), 'No job matches \u201cfixture-job\u201d.');
    await page.fill('#q', '');
    await page.uncheck('#qProb');
    assert.equal((await rowsOf(page)).length, 4);
    assert.equal(await text(page, '#qCount'), '');

    await routeJobs(page, jobsAnswer({ count: 1, jobs: [ok] }));
    await page.check('#qProb');
    await page.click('#reloadBtn');
    await page.waitForFunction(() => document.getElementById('k-prob').textContent === '0');
    assert.equal(await text(page, '#empty'), 'No problems found.');
  }));

  test('failures are shown and the table stays', () => withPage({}, async (page) => {
    let reply = { body: JSON.stringify(jobsAnswer({ count: 1, jobs: [{ source: 'fixture', expr: '@daily', command: 'x', valid: true, description: 'd', next: [] }] })) };
    await page.route((u) => u.searchParams.get('action') === 'jobs', (r) =>
      r.fulfill({ status: reply.status || 200, contentType: reply.status ? 'text/html' : 'application/json', body: reply.body }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    for (const c of failures) {
      reply = c;
      await page.evaluate(() => { document.getElementById('note').textContent = ''; });
      await page.click('#reloadBtn');
      await page.waitForFunction(() => !/^(|loading\u2026)$/.test(document.getElementById('note').textContent));
      assert.equal(await text(page, '#note'), c.note);
      assert.equal(await text(page, '#badge'), 'error');
      assert.equal(await page.getAttribute('#badge', 'class'), 'pill off');
      assert.equal((await rowsOf(page)).length, 1);
    }
  }, refusedWith(['431 (Request Header Fields Too Large)', '502 (Bad Gateway)', '503 (Service Unavailable)'])));
  test('the example node: users shown and filtered, a count while filtering, Esc clears', () => withPage({}, async (page) => {
    await visit(page, web1.url + '/plugin');
    await settled(page);
    const answer = await page.evaluate(() => fetch('/plugin?action=jobs').then((r) => r.json()));
    assert.equal(answer.jobs.length, 15);
    const users = (await rowsOf(page)).map((r) => r[5]);
    assert.deepEqual(users, answer.jobs.map((j) => j.user || DASH));
    const cases = [
      { q: 'root', users: ['root', 'root', 'root'] },
      { q: ' POSTGRES', users: ['postgres'] },
      { q: 'www-data', users: ['www-data'] },
      { q: 'zzzz-nothing', users: [] },
    ];
    for (const c of cases) {
      await page.fill('#q', c.q);
      assert.deepEqual((await rowsOf(page)).map((r) => r[5]), c.users, c.q);
      assert.equal(await text(page, '#qCount'), `${c.users.length} of 15`);
      assert.equal(await page.isVisible('#empty'), c.users.length === 0);
    }
    assert.equal(await text(page, '#empty'), 'No job matches \u201czzzz-nothing\u201d.');
    assert.deepEqual(await counters(page), ['15', '14', DASH, '1']);
    await page.press('#q', 'Escape');
    assert.deepEqual([await page.inputValue('#q'), (await rowsOf(page)).length, await text(page, '#qCount')], ['', 15, '']);
    assert.equal(await page.isVisible('#empty'), false);
  }));

  test('the last run: how long ago and how it ended, failures counted and found by the filter', () => withPage({}, async (page) => {
    const job = (command, last) => ({ source: 'systemd', kind: 'timer', expr: 'daily', command, user: 'root', valid: true, description: 'd', next: [], last });
    const at = (ago, outcome, detail, from) => ({ utc: '2026-01-01T00:00:00Z', local: '2026-01-01 00:00', ago_seconds: ago, outcome, detail, from });
    const jobs = [
      job('a', at(7800, 'succeeded', '', 'journal')),
      job('b', at(3 * 86400 + 3600, 'failed', 'exit status 100', 'journal')),
      job('c', null),
      job('d', at(30, 'started', '', 'timer stamp')),
      job('e', at(600, 'failed', 'killed by signal 9', 'syslog')),
    ];
    let asked = null;
    await page.route((u) => u.searchParams.get('action') === 'jobs', (r) => {
      asked = new URL(r.request().url()).searchParams.get('history');
      return r.fulfill({ contentType: 'application/json', body: JSON.stringify(jobsAnswer({ count: jobs.length, jobs })) });
    });
    await visit(page, host.url + '/plugin');
    await settled(page);
    assert.equal(asked, '1');
    const cells = await page.$$eval('#rows td.last', (tds) => tds.map((td) => [...td.children].map((c) => [c.className, c.textContent])));
    assert.deepEqual(cells, [
      [['in', '2h 10m ago'], ['src', 'succeeded']],
      [['in', '3d 1h ago'], ['err', 'failed: exit status 100']],
      [['muted', DASH]],
      [['in', '<1m ago'], ['src', 'started']],
      [['in', '10m ago'], ['err', 'failed: killed by signal 9']],
    ]);
    assert.equal(await page.$eval('#rows tr:nth-child(2) td.last .err', (d) => d.title), '2026-01-01 00:00 local, from journal');
    assert.equal(await text(page, '#k-failed'), '2');
    for (const [q, commands] of [['failed', ['b', 'e']], ['signal', ['e']], ['succeeded', ['a']]]) {
      await page.fill('#q', q);
      assert.deepEqual((await rowsOf(page)).map((r) => r[6]), commands, q);
      assert.equal(await text(page, '#k-failed'), '2'); // counts every job, like the totals
    }
  }));

  test('the filter matches the user and the kind of a job', () => withPage({}, async (page) => {
    const job = (over) => ({ source: 'fixture', kind: 'cron', expr: '@daily', command: 'x', user: '', valid: true, description: 'd', next: [], ...over });
    const jobs = [job({ user: 'root', command: 'a' }), job({ kind: 'timer', source: 'systemd', user: 'postgres', command: 'b' }), job({ command: 'c' })];
    await routeJobs(page, jobsAnswer({ count: 3, jobs }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    for (const [q, commands] of [['root', ['a']], ['postgres', ['b']], ['TIMER', ['b']], ['cron', ['a', 'c']], ['', ['a', 'b', 'c']]]) {
      await page.fill('#q', q);
      assert.deepEqual((await rowsOf(page)).map((r) => r[6]), commands, q);
    }
    assert.deepEqual((await rowsOf(page)).map((r) => r[5]), ['root', 'postgres', DASH]);
  }));

  test('a late job list never replaces a later one', () => withPage({}, async (page, context) => {
    await countAnswers(context);
    let release;
    const held = new Promise((r) => { release = r; });
    let calls = 0;
    await page.route((u) => u.searchParams.get('action') === 'jobs', async (r) => {
      if (++calls === 2) {
        await held;
        return r.fulfill({ contentType: 'application/json', body: JSON.stringify(jobsAnswer({ count: 0 })) });
      }
      return r.continue();
    });
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.click('#reloadBtn'); // held back
    await page.click('#reloadBtn');
    await page.waitForFunction(() => window.__answers.jobs === 2);
    release();
    await page.waitForFunction(() => window.__answers.jobs === 3);
    assert.deepEqual([await text(page, '#badge'), (await rowsOf(page)).length], ['5 jobs', 5]);
  }));

  test('the minute timer reloads without a loading status, Refresh with one', () => withPage({}, async (page, context) => {
    await countAnswers(context);
    await page.clock.install();
    await context.addInitScript(() => {
      window.__notes = [];
      addEventListener('DOMContentLoaded', () => new MutationObserver(() => window.__notes.push(document.getElementById('note').textContent))
        .observe(document.getElementById('note'), { childList: true, characterData: true, subtree: true }));
    });
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.evaluate(() => { window.__notes = []; });
    await page.clock.runFor(60000);
    await page.waitForFunction(() => window.__answers.jobs === 2);
    const notes = await page.evaluate(() => window.__notes);
    assert.ok(notes.length > 0 && notes.every((n) => n.startsWith('Read from: fixture')), JSON.stringify(notes));
    await page.click('#reloadBtn');
    await page.waitForFunction(() => window.__answers.jobs === 3);
    assert.equal((await page.evaluate(() => window.__notes))[notes.length], 'loading\u2026');
  }));

  test('a string that cannot be URL-encoded fails like a request and the page goes on', () => withPage({}, async (page) => {
    // A lone surrogate makes encodeURIComponent throw.
    await page.addInitScript(() => { localStorage.setItem('vorn_active_pwd', 'pw\ud800'); });
    await visit(page, host.url + '/plugin');
    await page.waitForFunction(() => ['note', 'exNote'].every((id) => document.getElementById(id).textContent.startsWith('request failed: ')));
    assert.equal(await text(page, '#badge'), 'error');
  }));
  test('an expression that cannot be URL-encoded fails like a request', () => withPage({}, async (page) => {
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.evaluate(() => { document.getElementById('ex').value = '* * * * *\ud800'; });
    await page.click('#goBtn');
    await page.waitForFunction(() => document.getElementById('exNote').textContent.startsWith('request failed: '));
  }));
});

describe('playground', { concurrency: true }, () => {
  test('default expression, @reboot, an invalid one and an empty input', () => withPage({}, async (page) => {
    let explains = 0;
    page.on('request', (r) => { if (new URL(r.url()).searchParams.get('action') === 'explain') explains++; });
    await visit(page, host.url + '/plugin');
    await settled(page);
    assert.equal(await page.inputValue('#ex'), '*/15 9-17 * * 1-5');
    assert.equal(await text(page, '#exNote'),
      'Every 15 minutes, between 09:00 and 17:59, on Monday, Tuesday, Wednesday, Thursday, Friday ' + DASH + ' next 5 runs in your local time:');
    const runs = await page.$$eval('#exRuns .run', (rs) => rs.map((r) => [...r.children].map((s) => [s.className, s.textContent])));
    assert.equal(runs.length, 5);
    runs.forEach((r, i) => {
      assert.deepEqual(r.map((s) => s[0]), ['n', 'u', 'l']);
      assert.equal(r[0][1], String(i + 1));
      assert.match(r[1][1], /^\d{4}-\d\d-\d\dT\d\d:\d\d:00Z$/);
      assert.match(r[2][1], /^\d{4}-\d\d-\d\d \d\d:\d\d local  \u00b7  in (\d+d \d+h|\d+h \d+m|\d+m|<1m)$/);
    });

    const explain = async (expr, how) => {
      await page.fill('#ex', expr);
      const before = explains;
      if (how === 'enter') await page.press('#ex', 'Enter'); else await page.click('#goBtn');
      await page.waitForFunction(() => !document.getElementById('exNote').textContent.startsWith('checking'));
      return { note: await text(page, '#exNote'), rows: await page.$$eval('#exRuns .run', (rs) => rs.length), sent: explains - before };
    };
    assert.deepEqual(await explain('@reboot', 'enter'),
      { note: 'When the system starts ' + DASH + ' runs at boot, so there are no clock times.', rows: 0, sent: 1 });
    assert.deepEqual(await explain('61 * * * *', 'click'), { note: 'invalid expression: minute out of range 0-59', rows: 0, sent: 1 });
    assert.deepEqual(await explain('0 0 31 2 *', 'click'), {
      note: 'At 00:00, in February on day 31 of the month ' + DASH + ' never runs: no matching time within the next 20 years.', rows: 0, sent: 1,
    });
    assert.deepEqual(await explain('   ', 'click'), { note: 'Type an expression first.', rows: 0, sent: 0 });
    // A later explanation still counts one request: the empty input sent none.
    assert.deepEqual(await explain(' @hourly ', 'enter'),
      { note: 'Every hour, on the hour ' + DASH + ' next 5 runs in your local time:', rows: 5, sent: 1 });
    assert.equal(explains, 5);
  }));

  // The program judges at most 1023 bytes of UTF-8 after trimming blanks; a
  // host in front of it refuses a long request line itself (431), so the
  // page answers a longer text without sending it.
  test('a text longer than the program judges is answered without a request', () => withPage({}, async (page) => {
    let explains = 0;
    page.on('request', (r) => { if (new URL(r.url()).searchParams.get('action') === 'explain') explains++; });
    await visit(page, host.url + '/plugin');
    await settled(page);
    assert.equal(await page.getAttribute('#ex', 'data-max'), '1023');
    const tooLong = 'invalid expression: expression too long';
    const cases = [
      { expr: '0'.repeat(20000), note: tooLong, sent: 0 },
      { expr: '0 0 * * *' + ' '.repeat(1015), note: 'At 00:00, every day ' + DASH + ' next 5 runs in your local time:', sent: 1 },
      { expr: '0' + ' '.repeat(1015) + '0 * * *', note: 'At 00:00, every day ' + DASH + ' next 5 runs in your local time:', sent: 1 },
      { expr: '0' + ' '.repeat(1016) + '0 * * *', note: tooLong, sent: 0 },
      // Two bytes a character: 511 of them and one more byte fit, 512 do not.
      { expr: '\u00e9'.repeat(511) + 'x', note: /^invalid expression: /, sent: 1 },
      { expr: '\u00e9'.repeat(512), note: tooLong, sent: 0 },
      { expr: '\u{1F600}'.repeat(256), note: tooLong, sent: 0 },
    ];
    for (const c of cases) {
      await page.fill('#ex', c.expr);
      const before = explains;
      await page.click('#goBtn');
      await page.waitForFunction(() => !document.getElementById('exNote').textContent.startsWith('checking'));
      const note = await text(page, '#exNote');
      if (c.note instanceof RegExp) assert.match(note, c.note); else assert.equal(note, c.note);
      assert.equal(explains - before, c.sent, c.expr.slice(0, 20));
      if (!c.sent) assert.equal(await page.$$eval('#exRuns .run', (rs) => rs.length), 0);
    }
  }));

  const conversion = (page) => page.evaluate(() => {
    const shown = (id) => !document.getElementById(id).closest('.hide');
    return {
      shown: shown('exConv'),
      title: document.getElementById('exConvTitle').textContent,
      text: document.getElementById('exConvText').textContent,
      note: document.getElementById('exConvNote').textContent,
      copy: shown('copyBtn'),
    };
  });
  const settledNote = (page) => page.waitForFunction(() => !document.getElementById('exNote').textContent.startsWith('checking'));

  test('the language switch: a cron answer as a [Timer] section, calendar events and their cron line', () => withPage({}, async (page) => {
    const sent = [];
    page.on('request', (r) => {
      const u = new URL(r.url());
      if (u.searchParams.get('action') === 'explain') sent.push([u.searchParams.get('syntax'), u.searchParams.get('expr')]);
    });
    await visit(page, host.url + '/plugin');
    await settled(page);
    const pressed = () => page.$$eval('.seg button', (bs) => bs.map((b) => [b.textContent, b.getAttribute('aria-pressed')]));
    assert.deepEqual(await pressed(), [['cron', 'true'], ['systemd calendar', 'false']]);
    assert.deepEqual(await conversion(page), {
      shown: true, title: 'As a systemd timer', text: '[Timer]\nOnCalendar=Mon..Fri *-*-* 09..17:00,15,30,45:00\n', note: '', copy: true,
    });

    // The switch carries the timer's value over and explains it as one.
    await page.click('#synSystemd');
    await settledNote(page);
    assert.deepEqual(await pressed(), [['cron', 'false'], ['systemd calendar', 'true']]);
    assert.equal(await page.inputValue('#ex'), 'Mon..Fri *-*-* 09..17:00,15,30,45:00');
    assert.equal(await page.getByLabel('Calendar event').getAttribute('id'), 'ex');
    assert.equal(await text(page, '#exNote'),
      'At minute 0, 15, 30 and 45, between 09:00 and 17:59, every Monday to Friday ' + DASH + ' next 5 runs in your local time:');
    assert.equal(await text(page, '#exNorm'), 'Normalized: Mon..Fri *-*-* 09..17:00,15,30,45:00');
    assert.equal(await page.$$eval('#exRuns .run', (rs) => rs.length), 5);
    assert.deepEqual(await conversion(page), { shown: true, title: 'As a cron line', text: '*/15 9-17 * * 1-5', note: '', copy: true });

    await page.fill('#ex', '*:*:0/30');
    await page.click('#goBtn');
    await settledNote(page);
    assert.equal(await text(page, '#exNorm'), 'Normalized: *-*-* *:*:00/30');
    assert.deepEqual(await conversion(page),
      { shown: true, title: 'As a cron line', text: '', note: 'No cron line: seconds are not expressible in cron.', copy: false });
    await page.fill('#ex', '*-*-32');
    await page.click('#goBtn');
    await settledNote(page);
    assert.equal(await text(page, '#exNote'), 'invalid expression: value out of range');
    assert.equal((await conversion(page)).shown, false);
    assert.equal(await page.isHidden('#exNorm'), true);

    // Back to cron with the cron line of the last calendar event.
    await page.fill('#ex', 'daily');
    await page.click('#goBtn');
    await settledNote(page);
    await page.click('#synCron');
    await settledNote(page);
    assert.equal(await page.inputValue('#ex'), '0 0 * * *');
    assert.equal(await page.getByLabel('Cron expression').getAttribute('id'), 'ex');
    assert.deepEqual(await conversion(page), {
      shown: true, title: 'As a systemd timer', text: '[Timer]\nOnCalendar=*-*-* 00:00:00\n', note: '', copy: true,
    });
    for (const [expr, timer] of [
      ['@reboot', '[Timer]\nOnBootSec=0\n'],
      ['0 0 1,15 * 1', '[Timer]\nOnCalendar=*-*-01,15 00:00:00\nOnCalendar=Mon *-*-* 00:00:00\n'],
    ]) {
      await page.fill('#ex', expr);
      await page.click('#goBtn');
      await settledNote(page);
      assert.equal((await conversion(page)).text, timer, expr);
    }
    assert.equal(await page.isHidden('#exNorm'), true);
    assert.deepEqual(sent, [
      [null, '*/15 9-17 * * 1-5'], ['systemd', 'Mon..Fri *-*-* 09..17:00,15,30,45:00'], ['systemd', '*:*:0/30'], ['systemd', '*-*-32'],
      ['systemd', 'daily'], [null, '0 0 * * *'], [null, '@reboot'], [null, '0 0 1,15 * 1'],
    ]);
  }));

  test('a pasted OnCalendar= line is a calendar event', () => withPage({}, async (page) => {
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.fill('#ex', ' OnCalendar = Sat,Sun 12:00');
    await page.waitForFunction(() => document.getElementById('exNote').textContent.startsWith('Every'));
    assert.equal(await page.inputValue('#ex'), 'Sat,Sun 12:00');
    assert.equal(await page.getAttribute('#synSystemd', 'aria-pressed'), 'true');
    assert.equal(await text(page, '#exNorm'), 'Normalized: Sat,Sun *-*-* 12:00:00');
    assert.equal((await conversion(page)).text, '0 12 * * 0,6');
    // Typed into the cron playground too, and with Enter.
    await page.click('#synCron');
    await settledNote(page);
    await page.fill('#ex', 'oncalendar=weekly');
    await settledNote(page);
    assert.deepEqual([await page.inputValue('#ex'), await page.getAttribute('#synSystemd', 'aria-pressed')], ['weekly', 'true']);
    assert.equal(await text(page, '#exNorm'), 'Normalized: Mon *-*-* 00:00:00');
  }));

  test('the copy button copies the [Timer] section, and the note is shown', () => withPage({}, async (page, context) => {
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: host.url });
    let reply = null;
    await page.route((u) => u.searchParams.get('action') === 'explain' && reply !== null, (r) =>
      r.fulfill({ contentType: 'application/json', body: JSON.stringify(reply) }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.getByRole('button', { name: 'Copy the [Timer] section' }).click();
    await page.waitForFunction(() => document.getElementById('copyNote').textContent === 'Copied.');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), '[Timer]\nOnCalendar=Mon..Fri *-*-* 09..17:00,15,30,45:00\n');

    const note = 'When the clock moves forward, cron runs the times of the skipped hour right after the change, while systemd skips them.';
    reply = { ok: true, valid: true, description: 'At 02:30, every day', boot_only: false, next: [],
      systemd: { on_calendar: ['*-*-* 02:30:00', '<b>x</b>'], note } };
    await page.click('#goBtn');
    await settledNote(page);
    assert.deepEqual(await conversion(page),
      { shown: true, title: 'As a systemd timer', text: '[Timer]\nOnCalendar=*-*-* 02:30:00\nOnCalendar=<b>x</b>\n', note, copy: true });
    assert.equal(await text(page, '#copyNote'), '');
    // An answer without the key shows no conversion.
    reply = { ok: true, valid: true, description: 'd', boot_only: false, next: [] };
    await page.click('#goBtn');
    await settledNote(page);
    assert.equal((await conversion(page)).shown, false);
  }));

  // The viewer is in Asia/Kolkata, the node in Europe/Paris: the local times
  // shown are the viewer's, the node's own stamps are the titles.
  test('crafted explain answers', () => withPage({ timezoneId: 'Asia/Kolkata' }, async (page) => {
    let reply = {};
    await page.route((u) => u.searchParams.get('action') === 'explain', (r) =>
      r.fulfill({ status: reply.status || 200, contentType: 'application/json', body: reply.body }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    const cases = [
      { body: { ok: true, valid: true, description: '<b>x</b>', boot_only: false, next: [{ utc: '2026-01-01T01:01:00Z', local: '2026-01-01 02:01', in_seconds: 3661 }, { utc: 'u2', local: 'l2', in_seconds: 90061 }] },
        note: '<b>x</b> ' + DASH + ' next 5 runs in your local time:',
        runs: [['1', '2026-01-01T01:01:00Z', '2026-01-01 06:31 local  \u00b7  in 1h 1m', 'node time: 2026-01-01 02:01'], ['2', 'u2', 'l2 node time  \u00b7  in 1d 1h', 'node time: l2']] },
      { body: { ok: true, valid: true, description: 'd', boot_only: false, next: [] }, note: 'd ' + DASH + ' never runs: no matching time within the next 20 years.', runs: [] },
      { body: { ok: false, error: 'missing expr parameter', valid: false }, note: 'missing expr parameter', runs: [] },
      { body: { ok: false }, note: 'failed', runs: [] },
      { body: { ok: true, valid: false, error: 'Minute value out of range' }, note: 'invalid expression: Minute value out of range', runs: [] },
      { body: { ok: true, valid: false }, note: 'invalid expression', runs: [] },
      ...failures,
    ];
    for (const c of cases) {
      reply = { status: c.status, body: typeof c.body === 'string' ? c.body : JSON.stringify(c.body) };
      await page.click('#goBtn');
      await page.waitForFunction(() => !document.getElementById('exNote').textContent.startsWith('checking'));
      assert.equal(await text(page, '#exNote'), c.note);
      assert.deepEqual(await page.$$eval('#exRuns .run', (rs) => rs.map((r) => [...r.children].map((s) => s.textContent).concat(r.lastChild.title))), c.runs || []);
    }
  }, refusedWith(['431 (Request Header Fields Too Large)', '502 (Bad Gateway)', '503 (Service Unavailable)'])));
  const runsOf = (page) => page.$$eval('#exRuns .run', (rs) => rs.map((r) => [...r.children].map((s) => s.textContent)));
  const hourly = 'Every hour, on the hour ' + DASH + ' next 5 runs in your local time:';

  test('an answer that arrives after a later request is dropped', () => withPage({}, async (page, context) => {
    await countAnswers(context);
    // The @daily answer is held back until the @hourly one has been shown.
    let release;
    const held = new Promise((r) => { release = r; });
    await page.route((u) => u.searchParams.get('expr') === '@daily', async (r) => { await held; await r.continue(); });
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.fill('#ex', '@daily');
    await page.click('#goBtn');
    await page.fill('#ex', '@hourly');
    await page.click('#goBtn');
    await page.waitForFunction(() => window.__answers.explain === 2);
    assert.equal(await text(page, '#exNote'), hourly);
    release();
    await page.waitForFunction(() => window.__answers.explain === 3);
    assert.deepEqual([await page.inputValue('#ex'), await text(page, '#exNote')], ['@hourly', hourly]);
    const runs = await runsOf(page);
    assert.deepEqual(runs.map((r) => r[0]), ['1', '2', '3', '4', '5']);
    const starts = runs.map((r) => Date.parse(r[1]));
    starts.slice(1).forEach((t, i) => assert.equal(t - starts[i], 3600e3, runs[i + 1][1]));
  }));

  test('a double click on Explain shows one list of five runs', () => withPage({}, async (page, context) => {
    await countAnswers(context);
    await visit(page, host.url + '/plugin');
    await settled(page);
    await page.fill('#ex', '@daily');
    await page.dblclick('#goBtn');
    await page.waitForFunction(() => window.__answers.explain === 3);
    assert.equal(await text(page, '#exNote'), 'Every day at midnight ' + DASH + ' next 5 runs in your local time:');
    const runs = await runsOf(page);
    assert.deepEqual(runs.map((r) => r[0]), ['1', '2', '3', '4', '5']);
    assert.ok(runs.every((r) => r[1].endsWith('T00:00:00Z')), JSON.stringify(runs));
  }));

});

describe('requests and the node password', { concurrency: true }, () => {
  test('request URLs carry the kept parameters, node and password', async () => {
    const cases = [
      { query: '', storage: {}, jobs: '/plugin?action=jobs&history=1', explain: '/plugin?action=explain&expr=*%2F15%209-17%20*%20*%201-5' },
      { query: '?node=web1&embed=1', storage: {}, jobs: '/plugin?node=web1&embed=1&action=jobs&history=1&node=web1' },
      { query: '?node=web1', storage: { vorn_pwd_web1: 's e+c', vorn_active_pwd: 'act' }, jobs: '/plugin?node=web1&action=jobs&history=1&node=web1&pwd=s%20e%2Bc' },
      { query: '?node=web2', storage: { vorn_pwd_web1: 'x', vorn_active_pwd: 'act' }, jobs: '/plugin?node=web2&action=jobs&history=1&node=web2&pwd=act' },
      { query: '', storage: { vorn_pwd_web1: 'x' }, jobs: '/plugin?action=jobs&history=1' },
      { query: '', storage: { vorn_active_pwd: 'act' }, jobs: '/plugin?action=jobs&history=1&pwd=act',
        explain: '/plugin?action=explain&expr=*%2F15%209-17%20*%20*%201-5&pwd=act' },
      { query: '?theme=dark&pwd=p%26w&foo=1&id=7&plugin=crontab&node=n1', storage: { vorn_pwd_n1: 'stored' },
        jobs: '/plugin?node=n1&plugin=crontab&id=7&pwd=p%26w&action=jobs&history=1&node=n1&pwd=p%26w' },
    ];
    await withPage({}, async (page) => {
      for (const c of cases) {
        await setStorage(page, host.url, c.storage);
        const seen = {};
        const record = (r) => {
          const u = new URL(r.url());
          const action = u.searchParams.get('action');
          if (action && !seen[action]) seen[action] = [u.pathname + u.search, r.headers().accept];
        };
        page.on('request', record);
        await visit(page, host.url + '/plugin' + c.query);
        await settled(page);
        page.off('request', record);
        assert.deepEqual(seen.jobs, [c.jobs, 'application/json'], c.query);
        if (c.explain) assert.equal(seen.explain[0], c.explain);
        assert.equal(await text(page, '#badge'), '5 jobs');
      }
    });
  });

  test('a protected node answers 401 until the stored password is sent', async () => {
    // The host passes the password with the page request only; the page's own
    // requests must carry it themselves.
    const open = async (page, query) => {
      await page.route((u) => u.pathname === '/plugin' && !u.searchParams.has('action'), (r) =>
        r.continue({ headers: { ...r.request().headers(), 'x-vorn-password': 'pw' } }));
      await visit(page, locked.url + '/plugin' + query);
      await settled(page);
    };
    const refused = 'Failed to load resource: the server responded with a status of 401 (Unauthorized)';
    await withPage({}, async (page) => {
      await open(page, '?node=web1');
      assert.equal(await text(page, '#note'), 'invalid node password');
      assert.equal(await text(page, '#badge'), 'error');
      assert.equal(await page.getAttribute('#badge', 'class'), 'pill off');
      assert.equal(await text(page, '#exNote'), 'invalid node password');
    }, [refused, refused]);
    await withPage({}, async (page) => {
      for (const storage of [{ vorn_pwd_web1: 'pw' }, { vorn_active_pwd: 'pw' }]) {
        await page.route((u) => u.searchParams.get('action') === 'info', (r) => r.fulfill({ contentType: 'application/json', body: '{}' }));
        await setStorage(page, locked.url, storage);
        await open(page, '?node=web1');
        assert.equal(await text(page, '#badge'), '5 jobs');
        assert.equal(await page.$$eval('#exRuns .run', (rs) => rs.length), 5);
        await page.unrouteAll();
      }
    });
  });
  test('the host page stores the node password for the plugin page', () => withPage({}, async (page) => {
    await visit(page, locked.url + '/');
    await page.waitForFunction(() => document.getElementById('plugin').contentDocument?.body?.textContent.includes('invalid node password'));
    await page.fill('#pwd', 'pw');
    await page.click('#savePwd');
    assert.equal(await page.evaluate(() => localStorage.getItem('vorn_pwd_web1')), 'pw');
    const frame = await (await page.$('#plugin')).contentFrame();
    await frame.waitForFunction(() => document.getElementById('badge')?.textContent === '5 jobs');
  }, ['Failed to load resource: the server responded with a status of 401 (Unauthorized)']));
});

describe('theme', { concurrency: true }, () => {
  test('the theme at start: parameter, storage, colour-scheme preference', async () => {
    const cases = [
      { query: '?theme=light', stored: 'dark', scheme: 'dark', theme: 'light' },
      { query: '?x=1&theme=dark', stored: 'light', scheme: 'light', theme: 'dark' },
      { query: '?theme=blue', stored: 'light', scheme: 'dark', theme: 'light' },
      { query: '?theme=blue', stored: null, scheme: 'light', theme: 'light' },
      { query: '', stored: 'dark', scheme: 'light', theme: 'dark' },
      { query: '', stored: null, scheme: 'light', theme: 'light' },
      { query: '', stored: null, scheme: 'dark', theme: 'dark' },
    ];
    await withPage({}, async (page) => {
      for (const c of cases) {
        await setStorage(page, host.url, c.stored ? { vorn_theme: c.stored } : {});
        await page.emulateMedia({ colorScheme: c.scheme });
        await visit(page, host.url + '/plugin' + c.query);
        await settled(page);
        const got = await page.evaluate(() => [document.documentElement.getAttribute('data-theme'), localStorage.getItem('vorn_theme'), qzTheme()]);
        assert.deepEqual(got, [c.theme, c.theme, c.theme], JSON.stringify(c));
        const bg = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
        assert.equal(bg, c.theme === 'light' ? 'rgb(245, 245, 247)' : 'rgb(0, 0, 0)');
      }
    });
  });

  test('the theme button switches and stores without a vorn-theme event', () => withPage({}, async (page, context) => {
    await context.addInitScript(() => { window.__themes = []; addEventListener('vorn-theme', (e) => window.__themes.push(e.detail)); });
    await visit(page, host.url + '/plugin');
    await settled(page);
    assert.equal(await attr(page, 'data-theme'), 'dark');
    assert.equal(await page.isVisible('#themeBtn'), true);
    for (const want of ['light', 'dark']) {
      await page.click('#themeBtn');
      assert.deepEqual(await page.evaluate(() => [document.documentElement.getAttribute('data-theme'), localStorage.getItem('vorn_theme')]), [want, want]);
    }
    assert.deepEqual(await page.evaluate(() => window.__themes), []);
  }));

  test('qz-theme messages, qzApplyTheme and qzTheme', () => withPage({}, async (page, context) => {
    await context.addInitScript(() => { window.__themes = []; addEventListener('vorn-theme', (e) => window.__themes.push(e.detail)); });
    await visit(page, host.url + '/plugin');
    await settled(page);
    const post = (theme) => page.evaluate((t) => postMessage({ type: 'qz-theme', theme: t }, '*'), theme);
    const events = (n) => page.waitForFunction((k) => window.__themes.length === k, n);
    await post('light');
    await events(1);
    assert.equal(await attr(page, 'data-theme'), 'light');
    await post('light'); // already in force
    await post('blue'); // unknown
    await page.evaluate(() => postMessage({ type: 'other', theme: 'dark' }, '*'));
    await post('dark'); // messages arrive in order, so the three above were handled
    await events(2);
    assert.deepEqual(await page.evaluate(() => [window.__themes, localStorage.getItem('vorn_theme')]), [['light', 'dark'], 'dark']);
    await page.evaluate(() => { qzApplyTheme('light'); qzApplyTheme('sepia'); });
    assert.deepEqual(await page.evaluate(() => window.__themes), ['light', 'dark', 'light']);
    for (const [value, reads] of [['junk', 'dark'], ['', 'dark'], ['light', 'light'], ['dark', 'dark']]) {
      assert.equal(await page.evaluate((v) => { document.documentElement.setAttribute('data-theme', v); return qzTheme(); }, value), reads);
    }
  }));

  test('embedded mode hides the theme button and the back link', async () => {
    await withPage({}, async (page) => {
      for (const [query, embedded] of [['?embed=1', true], ['?embed=true', true], ['?embed=1x', false], ['?embed=yes', false], ['?embed=TRUE', false], ['', false]]) {
        await visit(page, host.url + '/plugin' + query);
        await settled(page);
        assert.equal(await page.evaluate(() => document.documentElement.classList.contains('embedded')), embedded, query);
        assert.equal(await page.isVisible('#themeBtn'), !embedded, query);
        assert.equal(await page.$$eval('a[href="/"]', (as) => as.map((a) => a.textContent).join()), embedded ? '' : '\u2190 Back to Vorn');
      }
    });
  });

  test('inside the host page the theme comes from the host', () => withPage({ colorScheme: 'light' }, async (page) => {
    await visit(page, host.url + '/?theme=dark');
    const frame = await (await page.waitForSelector('#plugin')).contentFrame();
    await frame.waitForFunction(() => document.getElementById('badge')?.textContent === '5 jobs');
    await frame.waitForFunction(() => document.documentElement.getAttribute('data-theme') === 'dark');
    assert.equal(await frame.evaluate(() => document.documentElement.classList.contains('embedded')), true);
    assert.equal(await frame.isVisible('#themeBtn'), false);
    await frame.evaluate(() => { window.__themes = []; addEventListener('vorn-theme', (e) => window.__themes.push(e.detail)); });
    await page.click('#hostTheme');
    await frame.waitForFunction(() => window.__themes.join() === 'light');
    assert.equal(await frame.evaluate(() => qzTheme()), 'light');
  }));
});

describe('local time', { concurrency: true }, () => {
  // The node's stamps are its own zone's; the page shows every time in the
  // viewer's zone, from the UTC stamp, and keeps the node's in a title.
  const at = '2026-12-10T03:00:00Z';
  const cases = [
    { zone: 'America/New_York', shown: '2026-12-09 22:00' },
    { zone: 'Asia/Kolkata', shown: '2026-12-10 08:30' },
    { zone: 'UTC', shown: '2026-12-10 03:00' },
    { zone: 'Australia/Lord_Howe', shown: '2026-12-10 14:00' }, // summer, +11:00
  ];
  for (const c of cases) {
    test(`a viewer in ${c.zone}`, () => withPage({ timezoneId: c.zone }, async (page) => {
      const run = { utc: at, local: '2026-12-10 08:30', in_seconds: 3600 };
      const jobs = [{ source: 'fixture', kind: 'cron', expr: '0 3 * * *', command: 'x', user: '', valid: true, description: 'd', next: [run] }];
      await routeJobs(page, jobsAnswer({ count: 1, jobs, now_utc: at, now_local: '2026-12-10 08:30' }));
      await page.route((u) => u.searchParams.get('action') === 'explain', (r) => r.fulfill({ contentType: 'application/json',
        body: JSON.stringify({ ok: true, valid: true, description: 'd', boot_only: false, next: [run] }) }));
      await visit(page, host.url + '/plugin');
      await settled(page);
      assert.equal(await text(page, '#note'), `Read from: fixture (as of ${c.shown} local)`);
      assert.deepEqual(await page.$eval('#rows .when', (d) => [d.textContent, d.title]), [c.shown, 'node time: 2026-12-10 08:30']);
      assert.equal(await text(page, '#exRuns .l'), `${c.shown} local  \u00b7  in 1h 0m`);
    }));
  }

  test('the example node in Asia/Kolkata seen from America/New_York', () => withPage({ timezoneId: 'America/New_York' }, async (page) => {
    // The page's own answers, so that a minute turning over cannot differ.
    const answerOf = (action) => page.waitForResponse((r) => new URL(r.url()).searchParams.get('action') === action).then((r) => r.json());
    const answers = Promise.all([answerOf('explain'), answerOf('jobs')]);
    await visit(page, web1.url + '/plugin');
    await settled(page);
    const [answer, jobs] = await answers;
    const runs = await page.$$eval('#exRuns .run', (rs) => rs.map((r) => [r.children[1].textContent, r.children[2].textContent, r.children[2].title]));
    assert.equal(runs.length, 5);
    for (const [i, [utc, shown, title]] of runs.entries()) {
      assert.equal(utc, answer.next[i].utc);
      assert.ok(shown.startsWith(await viewerStamp(page, utc) + ' local  \u00b7  in '), shown);
      assert.equal(title, 'node time: ' + answer.next[i].local);
    }
    const first = await page.$eval('#rows .when', (d) => d.textContent);
    assert.equal(first, await viewerStamp(page, jobs.jobs[0].next[0].utc));
  }));
});

describe('accessibility', { concurrency: true }, () => {
  test('landmark, labels, live regions and the theme button name the state', () => withPage({}, async (page) => {
    await visit(page, host.url + '/plugin');
    await settled(page);
    const main = page.getByRole('main');
    assert.equal(await main.getByLabel('Filter jobs').getAttribute('id'), 'q');
    assert.equal(await main.getByLabel('Cron expression').getAttribute('id'), 'ex');
    assert.deepEqual(await page.getByRole('status').evaluateAll((es) => es.map((e) => e.id)), ['qCount', 'note', 'exNote', 'copyNote']);
    assert.equal(await page.getByRole('region', { name: 'Scheduled jobs' }).count(), 1);
    const theme = (name) => page.getByRole('button', { name, exact: true }).count();
    assert.equal(await theme('Theme: dark'), 1);
    await page.click('#themeBtn');
    assert.equal(await theme('Theme: light'), 1);
    await page.evaluate(() => postMessage({ type: 'qz-theme', theme: 'dark' }, '*'));
    await page.waitForFunction(() => document.getElementById('themeBtn').getAttribute('aria-label') === 'Theme: dark');
    // The keyboard alone: Enter explains, Escape clears the filter.
    await page.focus('#ex');
    await page.keyboard.press('Control+A');
    await page.keyboard.type('@weekly');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.getElementById('exNote').textContent.startsWith('Every Sunday'));
  }));

  for (const theme of ['light', 'dark']) {
    for (const viewport of [{ width: 1280, height: 800 }, { width: 390, height: 844 }]) {
      test(`axe-core: ${theme} theme at ${viewport.width} px, loaded and failed`, () => withPage({ viewport, colorScheme: theme }, async (page) => {
        await visit(page, `${web1.url}/plugin?theme=${theme}`);
        await settled(page);
        assert.deepEqual(await seriousViolations(page), []);
        // The failure colours: the error badge, and a filter that matches nothing.
        await page.route((u) => u.searchParams.get('action') === 'jobs', (r) => r.fulfill({ contentType: 'application/json', body: '{"ok":false,"error":"boom"}' }));
        await page.click('#reloadBtn');
        await page.waitForFunction(() => document.getElementById('badge').textContent === 'error');
        await page.fill('#q', 'zzzz-nothing');
        await page.fill('#ex', '61 * * * *');
        await page.click('#goBtn');
        await page.waitForFunction(() => document.getElementById('exNote').textContent.startsWith('invalid'));
        assert.deepEqual(await seriousViolations(page), []);
        // The calendar playground, with its cron line and a reason.
        await page.fill('#ex', 'Mon..Fri 09:00');
        await page.click('#synSystemd');
        await page.waitForFunction(() => document.getElementById('exNote').textContent.startsWith('Every'));
        assert.deepEqual(await seriousViolations(page), []);
        await page.fill('#ex', '*:*:0/30');
        await page.click('#goBtn');
        await page.waitForFunction(() => document.getElementById('exConvNote').textContent.startsWith('No cron line'));
        assert.deepEqual(await seriousViolations(page), []);
      }));
    }
  }

  test('on a phone expressions and stamps stay whole', () => withPage({ viewport: { width: 390, height: 844 } }, async (page) => {
    await visit(page, web1.url + '/plugin');
    await settled(page);
    // Lines a text is laid out on: distinct tops of its line boxes.
    const lines = (sel) => page.$$eval(sel, (es) => es.map((e) => {
      const range = document.createRange();
      range.selectNodeContents(e);
      return [e.textContent, new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size];
    }));
    for (const sel of ['#rows td.mono', '#rows .when', '#exRuns .u', '#exRuns .l']) {
      const found = await lines(sel);
      assert.ok(found.length > 0, sel);
      for (const [t, n] of found) assert.equal(n, 1, `${sel}: ${t}`);
    }
  }));

  test('a table wider than the screen can be scrolled from the keyboard', () => withPage({ viewport: { width: 390, height: 844 } }, async (page) => {
    const jobs = [{ source: 'fixture', kind: 'cron', expr: '0,5,10,15,20,25,30,35,40,45,50,55 0,2,4,6,8,10,12 * * *', command: 'x', user: '', valid: true, description: 'd', next: [] }];
    await routeJobs(page, jobsAnswer({ count: 1, jobs }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    assert.equal(await page.getAttribute('.tblwrap', 'tabindex'), '0');
    await page.setViewportSize({ width: 1280, height: 800 });
    await page.waitForFunction(() => !document.querySelector('.tblwrap').hasAttribute('tabindex'));
  }));
});

test('narrow screens hide the User column first, then Source and Command', async () => {
  await withPage({}, async (page) => {
    await visit(page, host.url + '/plugin');
    await settled(page);
    // Source, Schedule, Meaning, Next run, Last run, User, Command.
    for (const [width, visible] of [
      [390, [false, true, true, true, true, false, false]],
      [640, [false, true, true, true, true, false, false]],
      [641, [true, true, true, true, true, false, true]],
      [900, [true, true, true, true, true, false, true]],
      [901, [true, true, true, true, true, true, true]],
    ]) {
      await page.setViewportSize({ width, height: 800 });
      const shown = await page.evaluate(() => [...document.querySelectorAll('[aria-label="Scheduled jobs"] th, #rows tr:first-child td')]
        .map((c) => getComputedStyle(c).display !== 'none'));
      assert.deepEqual(shown, [...visible, ...visible], `width ${width}`);
    }
  });
});

// ZV_SCREENSHOTS=1 renews the screenshots in docs/ (kept in the repository).
test('screenshots of the page for the README', { skip: !process.env.ZV_SCREENSHOTS }, async () => {
  for (const theme of ['light', 'dark']) {
    await withPage({ viewport: { width: 1280, height: 800 }, colorScheme: theme, timezoneId: 'Asia/Kolkata' }, async (page) => {
      await visit(page, `${web1.url}/plugin?theme=${theme}`);
      await settled(page);
      await page.screenshot({ path: path.join(repo, `docs/page-${theme}.png`), fullPage: true });
    });
    // The timeline card, drawn for the node of the black-box reference
    // (cron files, timers and task definitions).
    const answer = readFileSync(path.join(repo, 'tests/data/timeline-live.expected.json'), 'utf8');
    await withPage({ viewport: { width: 1280, height: 800 }, colorScheme: theme, timezoneId: 'America/New_York' }, async (page) => {
      await page.route((u) => u.searchParams.get('action') === 'timeline', (r) => r.fulfill({ contentType: 'application/json', body: answer }));
      await visit(page, `${host.url}/plugin?theme=${theme}`);
      await settled(page);
      await page.waitForFunction(() => document.querySelectorAll('#tlChart .tl-lane').length > 0);
      await page.locator('.card', { has: page.locator('#tlChart') }).screenshot({ path: path.join(repo, `docs/timeline-${theme}.png`) });
    });
  }
});

describe('timeline', { concurrency: true }, () => {
  const drawn = (page) => page.waitForFunction(() => document.querySelectorAll('#tlChart .tl-lane').length > 0);
  // Per lane: its name, the number of ticks drawn and the names a screen
  // reader reads for them.
  const lanesOf = (page) => page.$$eval('#tlChart .tl-row:not(.tl-head)', (rows) => rows.map((r) => ({
    name: r.querySelector('.tl-name').textContent,
    ticks: r.querySelectorAll('.tl-tick, .tl-bar').length,
    items: [...r.querySelectorAll('li.tl-item')].map((li) => li.textContent),
    list: r.querySelector('ul').getAttribute('aria-label'),
  })));

  test('drawn for the sample crontab, the busiest minute named, every tick named', () => withPage({ timezoneId: 'UTC' }, async (page) => {
    // The page's own answer, so that a minute turning over cannot differ.
    const answered = page.waitForResponse((r) => new URL(r.url()).searchParams.get('action') === 'timeline');
    await visit(page, web1.url + '/plugin');
    await settled(page);
    const a = await (await answered).json();
    await drawn(page);
    const lanes = await lanesOf(page);
    assert.equal(lanes.length, a.jobs.length);
    for (const [i, lane] of lanes.entries()) {
      const job = a.jobs[i];
      assert.equal(lane.name, job.command);
      const expected = job.runs ? job.runs.length : job.counts.filter((c) => c > 0).length;
      assert.equal(lane.ticks, expected, job.command);
      assert.equal(lane.items.length, expected, job.command);
      for (const item of lane.items) assert.match(item, /^(Runs at \w{3} \d\d:\d\d node time \(\w{3} \d\d:\d\d yours\), in |\d+ runs? from \d\d:\d\d node time \(\d\d:\d\d yours\)$)/);
      assert.ok(lane.list.startsWith(job.command + ': '), lane.list);
    }
    // The node runs in Asia/Kolkata, the viewer in UTC.
    const top = a.busiest[0];
    const utc = top.utc.slice(11, 16);
    const node = top.local.slice(11, 16);
    assert.equal(await text(page, '#tlBusy'), `${top.jobs} jobs start at ${node} node time (${utc} yours), the busiest minute of the day.`);
    assert.match(await text(page, '#tlClock'), /^Now: \w{3} \d\d:\d\d node time, \w{3} \d\d:\d\d yours\./);
    assert.equal(await page.locator('#tlChart .tl-busy').count(), a.busiest.filter((b) => b.jobs === top.jobs).length);
    // One group per source, named.
    assert.deepEqual(await page.$$eval('#tlChart section', (s) => s.map((e) => e.getAttribute('aria-label'))), ['Jobs of fixture']);
  }));

  test('follows the filter, switches to 7 days, and shows the same runs as a table', () => withPage({}, async (page) => {
    await visit(page, web1.url + '/plugin');
    await settled(page);
    await drawn(page);
    await page.fill('#q', '/opt/backup/');
    await page.waitForFunction(() => document.querySelectorAll('#tlChart .tl-lane').length === 2);
    assert.deepEqual((await lanesOf(page)).map((l) => l.name), ['/opt/backup/run.sh --full', '/opt/backup/verify.sh']);
    await page.click('#tl168');
    await page.waitForFunction(() => document.getElementById('tlBusy').textContent.endsWith('of the week.'));
    assert.equal(await page.getAttribute('#tl168', 'aria-pressed'), 'true');
    assert.equal(await page.getAttribute('#tl24', 'aria-pressed'), 'false');
    const week = await lanesOf(page);
    assert.ok(week[0].items.length >= 7, week[0].items.join('|'));
    assert.equal(await page.isVisible('#tlTable'), false);
    await page.click('#tlTableBtn');
    assert.equal(await page.getAttribute('#tlTableBtn', 'aria-pressed'), 'true');
    const rows = await page.$$eval('#tlRows tr', (trs) => trs.map((tr) => [...tr.children].map((td) => td.textContent)));
    assert.equal(rows.length, 2);
    assert.equal(rows[0][1], '/opt/backup/run.sh --full');
    assert.equal(rows[0][3], week[0].items.join('; '));
  }));

  test('drawn for a unit tree: timers, tasks and frequent jobs as counts', () => withPage({ timezoneId: 'America/New_York' }, async (page) => {
    // The answer the program gives for a node with cron files, systemd
    // timers and task definitions (the black-box reference).
    const answer = readFileSync(path.join(repo, 'tests/data/timeline-live.expected.json'), 'utf8');
    await page.route((u) => u.searchParams.get('action') === 'timeline', (r) => r.fulfill({ contentType: 'application/json', body: answer }));
    const a = JSON.parse(answer);
    await visit(page, host.url + '/plugin');
    await settled(page);
    await drawn(page);
    const sources = [...new Set(a.jobs.map((j) => j.source))];
    assert.deepEqual(await page.$$eval('#tlChart section h3', (s) => s.map((e) => e.textContent)), sources);
    const lanes = await lanesOf(page);
    assert.equal(lanes.length, a.jobs.length);
    const often = lanes[a.jobs.findIndex((j) => j.command === 'often.service')];
    assert.equal(often.ticks, 24);
    assert.equal(often.items[0].split(' ')[0], '6');
    const timer = lanes[a.jobs.findIndex((j) => j.kind === 'timer' && j.expr.startsWith('*-*-* 6,18'))];
    assert.equal(timer.items.length, 2);
    // 05:00 UTC: 06:00 in Berlin, 00:00 in New York.
    assert.match(timer.items[0], /^Runs at Thu 06:00 node time \(Thu 00:00 yours\)/);
    assert.match(await text(page, '#tlBusy'), /^5 jobs start at 06:25 node time \(00:25 yours\)/);
  }));

  test('node times after a clock change in the window follow the new offset', () => withPage({ timezoneId: 'UTC' }, async (page) => {
    // Berlin, the evening before its clocks go forward at 01:00 UTC.
    const job = { index: 0, source: 'fixture', kind: 'cron', expr: '5 1 * * *', command: 'late.sh', user: '', valid: true, description: 'd' };
    const answer = {
      ok: true, action: 'timeline', now_utc: '2027-03-27T20:00:00Z', now_local: '2027-03-27 21:00', hours: 24,
      from_utc: '2027-03-27T20:00:00Z', to_utc: '2027-03-28T20:00:00Z',
      node_offsets: [{ at: 0, offset: 3600 }, { at: 18000, offset: 7200 }],
      bucket_seconds: 3600, threshold: 48, count: 2, truncated: false, sources: ['fixture'],
      jobs: [{ ...job, total: 1, runs: [3900] }, { ...job, index: 1, command: 'early.sh', total: 1, runs: [18300] }],
      busiest: [{ utc: '2027-03-28T01:05:00Z', local: '2027-03-28 03:05', in_seconds: 18300, jobs: 2 }],
    };
    await page.route((u) => u.searchParams.get('action') === 'timeline', (r) => r.fulfill({ contentType: 'application/json', body: JSON.stringify(answer) }));
    await visit(page, host.url + '/plugin');
    await settled(page);
    await drawn(page);
    const lanes = await lanesOf(page);
    assert.match(lanes[0].items[0], /^Runs at Sat 22:05 node time \(Sat 21:05 yours\)/);
    assert.match(lanes[1].items[0], /^Runs at Sun 03:05 node time \(Sun 01:05 yours\)/);
    assert.match(await text(page, '#tlBusy'), /^2 jobs start at 03:05 node time \(01:05 yours\)/);
    // Every third hour of the node's clock, where it is: 21:00 and 00:00 CET,
    // then 03:00 CEST two hours later.
    const labels = await page.$$eval('#tlChart .tl-label', (ls) => ls.map((l) => [l.firstChild.textContent, parseFloat(l.style.left).toFixed(2)]));
    assert.deepEqual(labels.slice(0, 4), [['21:00', '0.00'], ['00:00', '12.50'], ['03:00', '20.83'], ['06:00', '33.33']]);
  }));

  for (const theme of ['light', 'dark']) {
    for (const viewport of [{ width: 1280, height: 800 }, { width: 390, height: 844 }]) {
      test(`axe-core: ${theme} theme at ${viewport.width} px, lanes and table`, () => withPage({ viewport, colorScheme: theme }, async (page) => {
        await visit(page, `${web1.url}/plugin?theme=${theme}`);
        await settled(page);
        await drawn(page);
        assert.deepEqual(await seriousViolations(page), []);
        await page.click('#tlTableBtn');
        await page.click('#tl168');
        await page.waitForFunction(() => document.getElementById('tlBusy').textContent.endsWith('of the week.'));
        assert.deepEqual(await seriousViolations(page), []);
        // Nothing wider than the screen but the tables, which scroll.
        const overflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
        assert.ok(overflow <= 0, String(overflow));
      }));
    }
  }
});
