// The fake terminal's packets, byte for byte against those the service's codec recorded.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import { Command, Terminal, packPacket, progressBody } from './harness.mjs';

const recorded = JSON.parse(fs.readFileSync(new URL('../codec/reference_packets.json', import.meta.url)));

// The record's field names as the fake terminal calls them.
const infoKey = { devSN: 'sn', devType: 'type', LicensePlateNumber: 'plate', PhoneNumber: 'phone', AppVersion: 'app', McuVersion: 'mcu', FourGVersion: 'fourG', GnssVersion: 'gnss', SmartModule: 'smart' };

function made(sample) {
    if (sample.kind === 'progress') return packPacket(Command.Progress, sample.devId, sample.serialNo, progressBody(sample.percent));
    const info = { devId: sample.devId };
    for (const [name, value] of Object.entries(sample.report)) {
        if (name in infoKey) info[infoKey[name]] = value;
        else assert.equal(value, '', `the fake terminal sends no ${name}`);
    }
    return packPacket(Command.Report, sample.devId, sample.serialNo, new Terminal(info).reportBody());
}

test('the fake terminal builds the packets the codec recorded', () => {
    assert.deepEqual(new Set(recorded.map((s) => s.kind)), new Set(['report', 'progress']));
    for (const sample of recorded) assert.equal(made(sample).toString('hex'), sample.hex, `${sample.kind} of ${sample.devId}`);
});
