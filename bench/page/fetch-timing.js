// Added after the measuring script to both pages of the remembering benchmark:
// the work a page does once an answer of the program arrives (an await on
// fetch or on reading the answer resumes in a task of the network's, which
// the probe does not see) then runs from a timer the probe times, so the
// saving that follows an auto-save rule's answer is counted.
(() => {
  const later = (promise) => promise.then(
    (value) => new Promise((resolve) => window.setTimeout(() => resolve(value), 0)),
    (error) => new Promise((resolve, reject) => window.setTimeout(() => reject(error), 0)));
  const fetchNow = window.fetch.bind(window);
  window.fetch = (...args) => later(fetchNow(...args));
  for (const name of ["json", "text", "arrayBuffer"]) {
    const read = Response.prototype[name];
    Response.prototype[name] = function reading(...args) {
      return later(read.apply(this, args));
    };
  }
})();
