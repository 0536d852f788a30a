// What is kept of the device list: named filters and the columns shown. Both live in this
// browser's localStorage, the filters one set per account, so they follow the operator on this
// machine only; a filter travels to others as the list's address (#/devices?...).
import { session } from './session.js';

const key = (what) => `wayfarer.${what}.${session.account || '-'}`;

function read(what, fallback, name = key(what)) {
    try {
        return JSON.parse(localStorage.getItem(name)) ?? fallback;
    } catch {
        return fallback;
    }
}

function write(what, value, name = key(what)) {
    try {
        localStorage.setItem(name, JSON.stringify(value));
    } catch {
        // Storage full or refused (private windows): the choice lasts for this page only.
    }
}

// name -> the list's query text (filter and order), as in the address.
export const savedFilters = {
    all: () => read('filters', {}),
    save(name, query) {
        write('filters', { ...read('filters', {}), [name]: query });
    },
    remove(name) {
        const all = read('filters', {});
        delete all[name];
        write('filters', all);
    },
};

// The keys of the columns shown, null until someone chose; one choice per browser, as it
// follows the screen rather than the operator.
export const shownColumns = {
    read: () => read('columns', null, 'wayfarer.columns'),
    write: (keys) => write('columns', keys, 'wayfarer.columns'),
};

// The query part of an address such as #/devices?q=A1&online=true.
export function hashQuery(hash = location.hash) {
    const at = hash.indexOf('?');
    return new URLSearchParams(at < 0 ? '' : hash.slice(at + 1));
}
