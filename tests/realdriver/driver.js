// The real-driver test's client: the thick-mode oracledb driver against the stand-in
// OCI.DLL of LIBDIR, run by realdriver_tests.exe under the capture tool.
//   node.exe driver.js LIBDIR OUTFILE
// Standard output to a pipe fails under Wine, so what the driver got goes to OUTFILE, one
// line per fact, for the test to compare; on a failure the last line names the step
// and the error.
'use strict';
const fs = require('fs');

const [libDir, outFile] = process.argv.slice(2);
const lines = [];
let step = 'require';

function row(r) {
    return r === undefined ? '-' : r.join(' ');
}

async function main() {
    const oracledb = require('oracledb');
    step = 'initOracleClient';
    oracledb.initOracleClient({ libDir });
    lines.push(`mode ${oracledb.thin ? 'thin' : 'thick'}`);
    step = 'getConnection';
    // A password the test looks for in everything the tracer writes.
    const conn = await oracledb.getConnection({
        user: 'scott', password: 'pW0rd-5ecret-77', connectString: 'localhost/orclpdb' });
    try {
        // The stand-in's execute sleeps as the comment says: the trace's time is at least that.
        step = 'query with a bind';
        const q = await conn.execute(
            'select id, name from people where id > :lo /*vt sleep=150*/', { lo: 100 });
        lines.push(`columns ${q.metaData.map((c) => c.name).join(',')}`);
        for (const r of q.rows)
            lines.push(`row ${row(r)}`);

        step = 'update';
        const u = await conn.execute(
            "update people set name = 'Grüße, 東京' where id = :id /*vt rows=2*/", { id: 101 });
        lines.push(`updated ${u.rowsAffected}`);
        step = 'commit and rollback';
        await conn.commit();
        await conn.rollback();

        step = 'result set';
        const rs = (await conn.execute('select id, name from people /*vt rows=250*/', [],
            { resultSet: true, fetchArraySize: 100 })).resultSet;
        for (;;) {
            const batch = await rs.getRows(100);
            lines.push(`batch ${batch.length} first ${row(batch[0])} last ${row(batch[batch.length - 1])}`);
            if (batch.length === 0)
                break;
        }
        await rs.close();

        step = 'failing statement';
        try {
            await conn.execute('select * from nosuchtable');
            lines.push('error none');
        } catch (e) {
            lines.push(`error ${e.errorNum} ${e.message}`);
        }
        step = 'close';
    } finally {
        await conn.close();
    }
    lines.push('closed');
}

function save() {
    fs.writeFileSync(outFile, lines.map((l) => l + '\n').join(''));
}

main().then(save, (e) => {
    lines.push(`failed at ${step}: ${String(e && e.stack || e).replace(/\s+/g, ' ')}`);
    save();
    process.exitCode = 3;
});
