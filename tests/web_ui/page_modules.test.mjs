// The pages' own modules that need no browser: the exchange-file reader and the API client's
// handling of failed, refused and unanswered requests. These run without the service.
import assert from 'node:assert/strict';
import http from 'node:http';
import { after, before, describe, test } from 'node:test';
import { CSV_TITLES, decodeCsv, parseDeviceCsv, readCsvBytes, splitCsvLine } from '../../pages/doc/js/csv.js';
import { ApiError, api, attachmentName, request, unsafeQueryValue } from '../../pages/doc/js/api.js';
import { encodeGbk, waitFor } from './harness.mjs';

describe('splitCsvLine reads lines as the service does', () => {
    const cases = [
        ['a,"b,c",d', ['a', 'b,c', 'd']],
        ['"x""y"', ['x"y']],
        ['a,,b', ['a', '', 'b']],
        ['a,b,', ['a', 'b', '']],
        [',', ['', '']],
        ['""', ['']],
        ['a"b,c,d', ['a"b,c,d']],
        ['京A1,是,', ['京A1', '是', '']],
    ];
    for (const [line, fields] of cases) {
        test(JSON.stringify(line), () => assert.deepEqual(splitCsvLine(line), fields));
    }
});

const header = CSV_TITLES.join(',') + ',';
const row = (cells) => cells.join(',') + ',';
const device = (sn, flags = ['0', '', '0', '0', '0', '0']) =>
    row(['ID1', sn, 'T1', '京A12345', '138', 'V1', 'M1', 'G1', 'N1', 'S1', ...flags]);

describe('parseDeviceCsv checks the file as the import does', () => {
    test('reads the pending requests of every row with a serial number', () => {
        const text = [header, device('SN1', ['1', 'reboot', '0', '1', '0', '1']), device(''), device('SN2'), 'short,row'].join('\n');
        const parsed = parseDeviceCsv(text);
        assert.equal(parsed.ok, true);
        assert.equal(parsed.skipped, 2);
        assert.deepEqual(parsed.rows.map((r) => r.deviceNo), ['SN1', 'SN2']);
        const [sn1, sn2] = parsed.rows;
        assert.deepEqual([sn1.autoUpdate, sn1.configCmd, sn1.logFile, sn1.indexFile, sn1.printFile, sn1.runInfoFile],
            [true, 'reboot', false, true, false, true]);
        assert.equal(sn1.plateNo, '京A12345');
        assert.equal(sn2.autoUpdate, false);
    });

    const flagCases = [['1', true], ['0', false], ['是', false], ['TRUE', false], [' 1', false], ['', false]];
    for (const [cell, expected] of flagCases) {
        test(`the flag "${cell}" reads as ${expected}`, () => {
            const parsed = parseDeviceCsv([header, device('SN1', [cell, '', '0', '0', '0', '0'])].join('\r\n'));
            assert.equal(parsed.rows[0].autoUpdate, expected);
            assert.equal(parsed.oddFlags.length, ['1', '0', ''].includes(cell) ? 0 : 1);
        });
    }

    const refused = [
        ['an empty file', '', /标题行/],
        ['a header of 15 titles', CSV_TITLES.slice(0, 15).join(','), /15 列/],
        ['a lower-case title', header.replace('设备ID', '设备id'), /设备ID/],
    ];
    for (const [name, text, message] of refused) {
        test(`refuses ${name}`, () => {
            const parsed = parseDeviceCsv(text);
            assert.equal(parsed.ok, false);
            assert.match(parsed.error, message);
        });
    }

    test('accepts an extra title after the sixteenth', () => {
        assert.equal(parseDeviceCsv([header + 'extra,', device('SN1')].join('\n')).ok, true);
    });
});

describe('reading the bytes of an exchange file', () => {
    const text = `${header}\n${device('SN1')}\n`;
    const ascii = 'a,b,\n';
    // [name, bytes, text, encoding, whether the service reads the same text]
    const cases = [
        ['GBK without a byte-order mark', encodeGbk(text), text, 'gbk', true],
        ['UTF-8 with a byte-order mark', Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), Buffer.from(text, 'utf8')]), text, 'utf-8', true],
        ['UTF-16LE with a byte-order mark', Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(text, 'utf16le')]), text, 'utf-16le', true],
        ['UTF-8 without a byte-order mark', Buffer.from(text, 'utf8'), text, 'utf-8', false],
        ['plain ASCII', Buffer.from(ascii), ascii, 'utf-8', true],
    ];
    for (const [name, bytes, expected, encoding, alike] of cases) {
        test(name, () => {
            assert.equal(decodeCsv(bytes), expected);
            assert.deepEqual(readCsvBytes(bytes), { text: expected, encoding, serverReadsAlike: alike });
        });
    }
});

describe('API client', () => {
    let server;
    let base;
    const seen = [];
    // Answers the way the management server does, with its exact reason phrases.
    before(async () => {
        server = http.createServer((req, res) => {
            seen.push(req.url);
            const answers = {
                '/refused': [501, 'not implemented'],
                '/broken': [500, ' internal error'],
                '/nothing': [204, 'Request does not have content'],
                '/KORVA/packageList': [200, 'OK', '{"data":{"packageList":[{"id":1}]},"errorMgs":"","statusCode":1}'],
                '/KORVA/getProgress': [200, 'OK', '{"data":{},"errorMgs":"","statusCode":1}'],
            };
            const path = req.url.split('?')[0];
            if (path === '/silent' || path === '/KORVA/uploadFile') return; // no reply, as for unknown routes
            const [status, reason, body = ''] = answers[path] || [200, 'OK'];
            res.writeHead(status, reason, { 'Content-Type': 'text/html;charset=UTF-8' });
            res.end(body);
        });
        await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
        base = `http://127.0.0.1:${server.address().port}`;
    });
    after(() => {
        server.closeAllConnections();
        server.close();
    });

    // The server's reason phrases are English: the operator reads the status in Chinese.
    const failures = [
        ['/refused', 'http', 501, /^服务未执行此操作（HTTP 501）$/, 'not implemented'],
        ['/broken', 'http', 500, /^服务内部错误（HTTP 500）$/, ' internal error'],
        ['/nothing', 'http', 204, /^服务没有返回内容（HTTP 204）$/, 'Request does not have content'],
    ];
    for (const [path, kind, status, message, reason] of failures) {
        test(`${path} rejects with the status said in Chinese`, async () => {
            const err = await request('GET', base + path).then(() => null, (e) => e);
            assert.ok(err instanceof ApiError);
            assert.equal(err.kind, kind);
            assert.equal(err.status, status);
            assert.equal(err.reason, reason, 'the reason phrase is kept for whoever needs it');
            assert.match(err.message, message);
        });
    }

    test('a request without any reply ends at the time-out and says so', async () => {
        const started = Date.now();
        const err = await request('GET', `${base}/silent`, { timeoutMs: 300 }).then(() => null, (e) => e);
        assert.equal(err.kind, 'timeout');
        assert.match(err.message, /没有应答/);
        assert.ok(Date.now() - started < 5000);
    });

    test('an unreachable service is a network failure', async () => {
        // A port that was just listened on and closed again: nothing answers there.
        const closed = http.createServer();
        await new Promise((resolve) => closed.listen(0, '127.0.0.1', resolve));
        const { port } = closed.address();
        await new Promise((resolve) => closed.close(resolve));
        const err = await request('GET', `http://127.0.0.1:${port}/x`, { timeoutMs: 3000 }).then(() => null, (e) => e);
        assert.equal(err.kind, 'network');
        assert.doesNotMatch(err.message, /[A-Za-z]/, 'the browser\'s "Failed to fetch" must not reach the operator');
    });

    test('cancelling an upload ends it as aborted', async () => {
        const controller = new AbortController();
        const pending = request('POST', `${base}/KORVA/uploadFile?name=a`, { body: 'x', signal: controller.signal, timeoutMs: 5000 });
        // Cancelled while the server holds the request, as an operator would.
        await waitFor(() => seen.includes('/KORVA/uploadFile?name=a'), { what: 'the upload at the server' });
        controller.abort();
        const err = await pending.then(() => null, (e) => e);
        assert.equal(err.kind, 'aborted');
    });

    test('documents are read from their list member, and a missing list is a format error', async () => {
        const origFetch = globalThis.fetch;
        globalThis.fetch = (url, init) => origFetch(base + url, init);
        try {
            assert.deepEqual((await api.packageList()).list, [{ id: 1 }]);
            const err = await api.progressList().then(() => null, (e) => e);
            assert.equal(err.kind, 'format');
            assert.match(err.message, /data\.progressList/);
            seen.length = 0;
            await api.queryDevices('SN 1', '').catch(() => {});
            assert.equal(seen[0], '/KORVA/deviceList?deviceNo=SN%201&phoneNum=');
        } finally {
            globalThis.fetch = origFetch;
        }
    });

    test('values that the server would split are recognised', () => {
        assert.equal(unsafeQueryValue('V1.0 build&2'), true);
        assert.equal(unsafeQueryValue('type=T1'), true);
        assert.equal(unsafeQueryValue('V5.3.1 build220711'), false);
    });

    test('the download name comes from Content-Disposition', () => {
        const response = new Response('', { headers: { 'Content-Disposition': 'attachment;filename=device information list{a-b}.csv' } });
        assert.equal(attachmentName(response, 'x.csv'), 'device information list{a-b}.csv');
        assert.equal(attachmentName(new Response(''), 'x.csv'), 'x.csv');
    });
});
