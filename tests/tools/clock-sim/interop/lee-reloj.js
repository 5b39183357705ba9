'use strict';
// Reads a clock with node-zklib, a protocol client written by others, and prints what it got
// as one line of JSON: the device info, the users and the attendance records; then it clears the
// attendance log. The library tries TCP and falls back to UDP.
// Usage: node lee-reloj.js IP PORT
console.log = (...a) => console.error(...a);  // the library talks on stdout; keep it for us

const ZKLib = require('node-zklib');

const [ip, puerto] = process.argv.slice(2);
const dos = (n) => String(n).padStart(2, '0');
// Records are wall-clock times without a zone: print them as the library's local Date has them.
const fecha = (d) =>
  `${d.getFullYear()}-${dos(d.getMonth() + 1)}-${dos(d.getDate())} ` +
  `${dos(d.getHours())}:${dos(d.getMinutes())}:${dos(d.getSeconds())}`;
const texto = (e) => (e ? String((e.err && e.err.message) || e.message || e) : null);

(async () => {
  const salida = {};
  const zk = new ZKLib(ip, Number(puerto), 10000, 0);
  try {
    await zk.createSocket();
    salida.info = await zk.getInfo();
    const usuarios = await zk.getUsers();
    salida.usuarios = usuarios.data;
    salida.errorUsuarios = texto(usuarios.err);
    const marcaciones = await zk.getAttendances();
    salida.marcaciones = marcaciones.data.map((m) => ({
      uid: m.userSn === undefined ? null : m.userSn,
      id: String(m.deviceUserId),
      hora: fecha(m.recordTime),
    }));
    salida.errorMarcaciones = texto(marcaciones.err);
    salida.transporte = zk.connectionType;
    await zk.clearAttendanceLog();
    salida.borrado = true;
    await zk.disconnect();
  } catch (e) {
    salida.error = texto(e);
  }
  // Exit only once the line is out: the library leaves timers behind, and a pipe may be full.
  process.stdout.write(JSON.stringify(salida) + '\n', () => process.exit(0));
})();
