// Runs before the unit tests under Node: the repository, where CTest starts
// them, appears at its own path in the program's files (the fuzzers' seeds
// and crashes are read there); the rest, /tmp too, is the program's own
// memory, whose stderr can be redirected to a file as the tests do.
Module['preRun'] = [function () {
  var source = process.cwd();
  FS.mkdirTree(source);
  FS.mount(NODEFS, { root: source }, source);
}];
