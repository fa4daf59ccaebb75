// The nginx web host that ctest starts for the HTTP tests (support/nginx-fixture.sh).
#pragma once

// Its port on 127.0.0.1, or 0 when the run has none (not under ctest, nginx missing).
int NginxFixturePort();
