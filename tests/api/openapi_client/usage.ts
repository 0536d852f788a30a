// Calls a client generated from the served document would make; compiled, never run. A member
// the document leaves out or types loosely fails the compilation.
import createClient from 'openapi-fetch';
import type { components, operations, paths } from './api';

const client = createClient<paths>({ baseUrl: 'http://127.0.0.1:8080' });

type DeviceFilter = components['schemas']['DeviceFilter'];
const t1NotOnV9: DeviceFilter = { devType: 'T1', AppVersionNot: 'V9', online: true };
// @ts-expect-error a misspelt condition is refused by the service, so by the type too
const misspelt: DeviceFilter = { devTyp: 'T1' };

export async function devicesAndRollout(): Promise<number> {
    const query: operations['listDevices']['parameters']['query'] = {
        devType: 'T1',
        online: 'true',
        upgradeState: 'stalled',
        limit: 50,
    };
    const devices = await client.GET('/KORVA/v2/devices', { params: { query } });
    const firstSerial: string | undefined = devices.data?.items[0]?.devSN;

    const set = await client.PUT('/KORVA/v2/packages/{id}/plan', {
        params: { path: { id: '1' } },
        body: {
            stages: [{ filter: t1NotOnV9, minMinutes: 30 }, { serials: [firstSerial ?? 'SN0001'] }, { percent: 100 }],
            pauseAtFailures: 3,
        },
    });
    const stage = set.data?.stages[0];
    const takenWith: DeviceFilter | null | undefined = stage?.filter;
    void misspelt;
    return (takenWith?.devType?.length ?? 0) + (stage?.listed ?? 0);
}

// A stage gives back the filter it was set with, so its type takes every filter.
type StageFilter = NonNullable<components['schemas']['RolloutStage']['filter']>;
export const givenBack: StageFilter = t1NotOnV9;
