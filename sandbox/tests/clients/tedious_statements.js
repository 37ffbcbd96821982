// Runs statements through tedious against a server on 127.0.0.1 and prints each result as one JSON
// line: execSql (sp_executesql with typed parameters), then prepare / execute / unprepare
// (sp_prepare, sp_execute, sp_unprepare). Arguments: port password.
const { Connection, Request, TYPES } = require('tedious');

const [port, password] = process.argv.slice(2);
const connection = new Connection({
  server: '127.0.0.1',
  authentication: { type: 'default', options: { userName: 'sa', password } },
  options: { port: Number(port), database: 'TQSystem', trustServerCertificate: true, connectTimeout: 10000 },
});

function print(what, err, rows) {
  console.log(JSON.stringify({ what, error: err ? `${err.number || ''} ${err.message}` : null, rows }));
}

function request(what, sql, collect) {
  const rows = [];
  const req = new Request(sql, (err) => collect(err, rows));
  req.on('row', (columns) => rows.push(columns.map((c) => c.value)));
  return req;
}

function steps(list) {
  if (list.length === 0) {
    connection.close();
    return;
  }
  list[0](() => steps(list.slice(1)));
}

connection.on('connect', (err) => {
  if (err) {
    print('connect', err, []);
    process.exit(2);
  }
  // One request serves prepare, each execute and unprepare; its callback reports the step.
  let phase = 'prepare';
  const prepared = request('prepared', 'select cacc_id, cacc_name from ua_account where cacc_id = @id', (err, rows) => {
    print(phase, err, rows.splice(0));
  });
  steps([
    (next) => {
      const r = request('execSql', 'select cacc_id, cacc_name from ua_account where cacc_id = @id and @n > 0', (err, rows) => {
        print('execSql', err, rows);
        next();
      });
      r.addParameter('id', TYPES.NVarChar, '001');
      r.addParameter('n', TYPES.Int, 7);
      connection.execSql(r);
    },
    (next) => {
      const r = request('execSql error', 'select nosuch from ua_account where cacc_id = @id', (err, rows) => {
        print('execSql error', err, rows);
        next();
      });
      r.addParameter('id', TYPES.NVarChar, '001');
      connection.execSql(r);
    },
    (next) => {
      prepared.addParameter('id', TYPES.NVarChar);
      prepared.on('prepared', () => next());
      connection.prepare(prepared);
    },
    (next) => {
      phase = 'execute';
      prepared.once('requestCompleted', () => next());
      connection.execute(prepared, { id: '002' });
    },
    (next) => {
      prepared.once('requestCompleted', () => next());
      connection.execute(prepared, { id: '003' });
    },
    (next) => {
      phase = 'unprepare';
      prepared.once('requestCompleted', () => next());
      connection.unprepare(prepared);
    },
  ]);
});
connection.connect();
