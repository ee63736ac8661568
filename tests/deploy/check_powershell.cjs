// Parses every PowerShell script under deploy/, and the PowerShell command that the start-up
// script assembles, with the tree-sitter PowerShell grammar. Also checks what Windows PowerShell
// 5.1 and cmd.exe need of them: ASCII only (a file without a byte order mark is read in the ANSI
// code page), the shared part identical in every script, and no character in the start-up
// script's command that cmd.exe would change.
// Usage: node check_powershell.cjs TOOLS_DIR DEPLOY_DIR
// (TOOLS_DIR: where this folder's package.json was installed, with its node_modules.)
'use strict';
const fs = require('fs');
const path = require('path');
const { createRequire } = require('module');

const [tools, deploy] = process.argv.slice(2);
const requireTool = createRequire(path.join(path.resolve(tools), 'package.json'));
const { Parser, Language } = requireTool('web-tree-sitter');
const grammar = requireTool.resolve('tree-sitter-powershell/tree-sitter-powershell.wasm');

const kSharedBegin = '# ---- The same in every quickboot script (keep it identical) ';
const kSharedEnd = '# ---- End of the shared part ';

function findScripts(directory) {
  return fs.readdirSync(directory, { withFileTypes: true }).flatMap((entry) => {
    const full = path.join(directory, entry.name);
    if (entry.isDirectory()) return findScripts(full);
    return entry.name.endsWith('.ps1') ? [full] : [];
  });
}

// The first ERROR or MISSING node, or null.
function firstError(node) {
  if (node.isError || node.isMissing) return node;
  for (const child of node.children) {
    const found = child.hasError || child.isMissing ? firstError(child) : null;
    if (found) return found;
  }
  return null;
}

// The command the start-up script builds with set "RUN_LIMITED=...".
function startupCommand(text) {
  const parts = [];
  for (const line of text.split(/\r?\n/)) {
    const match = /^set "RUN_LIMITED=(?:%RUN_LIMITED% )?(.*)"$/.exec(line);
    if (match) parts.push(match[1]);
  }
  return parts.join(' ');
}

(async () => {
  await Parser.init();
  const parser = new Parser();
  parser.setLanguage(await Language.load(grammar));
  const problems = [];
  const check = (name, source) => {
    const error = firstError(parser.parse(source).rootNode);
    if (error) {
      const { row, column } = error.startPosition;
      problems.push(`${name}:${row + 1}:${column + 1}: does not parse near ` +
                    JSON.stringify(source.split('\n')[row].trim()));
    }
  };

  const scripts = findScripts(deploy).sort();
  let shared = null;
  for (const script of scripts) {
    const name = path.relative(deploy, script);
    const text = fs.readFileSync(script, 'latin1');
    check(name, text);
    if (/[^\x09\x0a\x0d\x20-\x7e]/.test(text)) problems.push(`${name}: not ASCII`);
    const begin = text.indexOf(kSharedBegin);
    const end = text.indexOf(kSharedEnd);
    if (begin < 0 || end < begin) {
      problems.push(`${name}: no shared part`);
    } else if (shared === null) {
      shared = text.slice(begin, end);
    } else if (text.slice(begin, end) !== shared) {
      problems.push(`${name}: the shared part differs from the one in ${path.relative(deploy, scripts[0])}`);
    }
  }

  const startup = 'startup-script/quickboot-startup.cmd';
  const command = startupCommand(fs.readFileSync(path.join(deploy, startup), 'latin1'));
  if (!command.includes('WaitForExit(')) problems.push(`${startup}: no PowerShell command found`);
  if (/["%!^]/.test(command)) problems.push(`${startup}: the PowerShell command holds " % ! or ^`);
  check(`${startup} (PowerShell command)`, command);

  for (const problem of problems) console.error(problem);
  console.log(`${scripts.length + 1} PowerShell sources parsed, ${problems.length} problems`);
  process.exit(problems.length === 0 && scripts.length > 0 ? 0 : 1);
})();
