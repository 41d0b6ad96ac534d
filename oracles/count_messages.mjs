// Counts the messages of every folder of a .pst with
// @hiraokahypertools/pst-extractor, reading each message's subject so that
// every message is opened: one line "PATH COUNT" per folder, then "total N".
// Exit status 1 when the file cannot be walked.
import { openPstFile } from '@hiraokahypertools/pst-extractor';

const file = await openPstFile(process.argv[2]);
let total = 0;
async function walk(folder, path) {
  const count = await folder.getEmailCount();
  let read = 0;
  for (let i = 0; i < count; ++i) {
    const m = await folder.getEmail(i);
    if (typeof m.subject === 'string') ++read;
  }
  total += read;
  console.log(`${path} ${read}`);
  for (const sub of await folder.getSubFolders()) await walk(sub, `${path}/${sub.displayName}`);
}
await walk(await file.getRootFolder(), '');
console.log(`total ${total}`);
await file.close();
