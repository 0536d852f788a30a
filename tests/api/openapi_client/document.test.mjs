// The document /KORVA/v2/openapi.json of the running service, taken by widely used tools: it must
// validate, lint without errors, and give a typed client whose use compiles under --strict.
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import SwaggerParser from '@apidevtools/swagger-parser';
import { Service } from '../../web_ui/service.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const bin = (name) => path.join(here, 'node_modules', '.bin', name);
const run = promisify(execFile);
// The tools are asked not to reach the network: no telemetry, no update notice.
const quiet = { ...process.env, REDOCLY_TELEMETRY: 'off', REDOCLY_SUPPRESS_UPDATE_NOTICE: 'true' };

test('the served API document validates, lints clean and gives a client that compiles', async (t) => {
    const service = await Service.start();
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'wayfarer-openapi-'));
    t.after(async () => {
        await service.stop();
        fs.rmSync(work, { recursive: true, force: true });
    });
    const response = await fetch(`${service.base}/KORVA/v2/openapi.json`);
    assert.equal(response.status, 200);
    const documentPath = path.join(work, 'openapi.json');
    fs.writeFileSync(documentPath, Buffer.from(await response.arrayBuffer()));

    await t.test('swagger-parser validates it', async () => {
        // validate() resolves and rewrites the object it is given: a parsed copy of its own.
        await SwaggerParser.validate(JSON.parse(fs.readFileSync(documentPath, 'utf8')));
    });

    await t.test('redocly lint finds no error', async () => {
        // lint exits non-zero on an error; its JSON report is read either way.
        const lint = await run(bin('redocly'), ['lint', documentPath, '--format=json'], { env: quiet })
            .catch((failed) => failed);
        const problems = JSON.parse(lint.stdout).problems;
        const errors = problems.filter((p) => p.severity === 'error');
        const warnings = problems.filter((p) => p.severity !== 'error').map((p) => p.ruleId);
        t.diagnostic(`redocly: ${errors.length} errors, ${warnings.length} warnings (${[...new Set(warnings)].join(', ')})`);
        assert.deepEqual(errors.map((p) => `${p.ruleId}: ${p.message} at ${p.location[0]?.pointer}`), []);
    });

    await t.test('a client generated with openapi-typescript compiles under tsc --strict', async () => {
        await run(bin('openapi-typescript'), [documentPath, '--output', path.join(work, 'api.d.ts')], { env: quiet });
        fs.copyFileSync(path.join(here, 'usage.ts'), path.join(work, 'usage.ts'));
        fs.symlinkSync(path.join(here, 'node_modules'), path.join(work, 'node_modules'));
        const compiled = await run(bin('tsc'), ['--strict', '--noEmit', '--noUncheckedIndexedAccess', '--target', 'es2022',
            '--module', 'esnext', '--moduleResolution', 'bundler', path.join(work, 'usage.ts')])
            .catch((failed) => failed);
        assert.equal(compiled.code ?? 0, 0, `${compiled.stdout}${compiled.stderr}`);
    });
});
