#!/usr/bin/env bash
# The management API document as clients nobody here wrote take it: installs the locked npm
# tools, then checks the document the real service serves with swagger-parser and redocly lint,
# generates a typed client from it and compiles a use of that client under tsc --strict.
# Environment: WAYFARER_EXE (the built executable).
set -euo pipefail
cd "$(dirname "$0")"
npm ci --no-audit --no-fund --loglevel=error >/dev/null
exec node --test ./document.test.mjs
