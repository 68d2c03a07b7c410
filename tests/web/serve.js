// A static file server for the browser build's folder (also what `scripts/web` could use): node serve.js DIR PORT
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.png': 'image/png'};

function serve(dir, port, host = '127.0.0.1') {
  const root = path.resolve(dir);
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://localhost');
    const file = path.resolve(root, '.' + decodeURIComponent(url.pathname === '/' ? '/index.html' : url.pathname));
    if (!file.startsWith(root + path.sep)) {
      res.writeHead(403).end();
      return;
    }
    fs.readFile(file, (err, data) => {
      if (err) {
        res.writeHead(404).end('not found');
        return;
      }
      res.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'});
      res.end(data);
    });
  });
  return new Promise((resolve) => server.listen(port, host, () => resolve(server)));
}

module.exports = {serve};

if (require.main === module) {
  const [dir, port] = process.argv.slice(2);
  serve(dir, Number(port || 8019)).then((s) => console.log(`serving ${dir} on http://localhost:${s.address().port}/`));
}
