// Counts the messages of every folder of a .pst with pst-extractor (the
// original library): one line "PATH COUNT" per folder, then "total N".
// pst-extractor logs message classes it has no class for on standard output;
// the counts are the lines this script writes on standard error.
const { PSTFile } = require('pst-extractor');

const file = new PSTFile(process.argv[2]);
let total = 0;
function walk(folder, path) {
  let read = 0;
  if (folder.contentCount > 0) {
    for (let m = folder.getNextChild(); m; m = folder.getNextChild()) {
      if (typeof m.subject === 'string') ++read;
    }
  }
  total += read;
  process.stderr.write(`${path} ${read}\n`);
  if (folder.hasSubfolders) {
    for (const sub of folder.getSubFolders()) walk(sub, `${path}/${sub.displayName}`);
  }
}
walk(file.getRootFolder(), '');
process.stderr.write(`total ${total}\n`);
