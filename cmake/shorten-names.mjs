// Gives the local variables and functions of the page's script one- or two-letter names, with
// the parser and printer Emscripten's own minifier uses: without the Closure Compiler it keeps
// every local's long name, a fifth of the script's bytes. Names outside functions (the page's
// Module, the program's imports and exports) stay as they are.
// Usage: node shorten-names.mjs EMSCRIPTEN_ROOT SCRIPT
import {readFileSync, writeFileSync} from "node:fs";
import {createRequire} from "node:module";

const [root, script] = process.argv.slice(2);
const require = createRequire(import.meta.url);
const acorn = require("acorn");
const {AST_Node} = require(`${root}/third_party/terser/terser.js`);

const ast = AST_Node.from_mozilla_ast(acorn.parse(readFileSync(script, "utf8"),
                                                  {ecmaVersion: "latest"}));
ast.figure_out_scope({});
ast.compute_char_frequency({});
ast.mangle_names({});
writeFileSync(script, ast.print_to_string() + "\n");
