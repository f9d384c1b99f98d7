// The page learns its per-launch token from the start document and sends it
// with every API request.
const token = document.querySelector('meta[name="quillmarsh-token"]').content;

async function api(method, path, body) {
  const response = await fetch(path, { method, headers: { "X-Quillmarsh-Token": token }, body });
  return { status: response.status, json: await response.json() };
}

api("GET", "/api/build").then(({ json }) => {
  document.getElementById("status").textContent = `${json.name} ${json.version} on ${json.os}`;
}).catch((error) => {
  document.getElementById("status").textContent = `Could not reach the native side: ${error}`;
});
