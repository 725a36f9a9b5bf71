// The playground page: a grid of the workbook, an editor of its modules, a console and a
// packages panel, all over one WebSocket to the playground server.
"use strict";

const $ = (selector) => document.querySelector(selector);
const SEVERITY = { 8: "error", 4: "warning", 2: "info", 1: "info" };
const IDENTIFIER = /[A-Za-z0-9_]/;

// -- connection ---------------------------------------------------------------------------

const connection = {
  socket: null,
  nextId: 1,
  waiting: new Map(), // id -> handler(message); a handler returning false keeps waiting
};

function send(message, onReply) {
  message.id = connection.nextId++;
  if (onReply) connection.waiting.set(message.id, onReply);
  connection.socket.send(JSON.stringify(message));
  return message.id;
}

function connect() {
  const socket = new WebSocket(`ws://${location.host}/ws`);
  connection.socket = socket;
  socket.onopen = () => {
    setStatus("connected");
    send({ type: "hello" }, onHello);
  };
  socket.onclose = () => setStatus("disconnected: reload the page once the playground runs");
  socket.onmessage = (event) => dispatch(JSON.parse(event.data));
}

function dispatch(message) {
  const handler = connection.waiting.get(message.id);
  if (message.id != null && handler) {
    if (handler(message) !== false) connection.waiting.delete(message.id);
    return;
  }
  if (message.type === "grid") onGrid(message);
  else if (message.type === "stdout" || message.type === "stderr") {
    appendOutput(message.content, `${message.type} workbook`);
  } else if (message.type === "error") appendOutput(message.message + "\n", "error");
}

function setStatus(text) {
  $("#status").textContent = text;
}

function onHello(message) {
  editor.modules = message.modules;
  const names = Object.keys(editor.modules).sort();
  renderModuleTabs();
  if (names.length) openModule(names[0]);
  onGrid(message.grid);
}

// -- grid ---------------------------------------------------------------------------------

const grid = { sheet: null, shape: "", cells: {}, selected: [0, 0], tds: [] };

function onGrid(message) {
  renderSheetTabs(message.sheets, message.sheet);
  if (grid.sheet !== null && message.sheet !== grid.sheet) return;
  grid.sheet = message.sheet;
  const shape = `${message.sheet}:${message.rows}x${message.columns}`;
  if (shape !== grid.shape) buildGrid(message);
  const keys = new Set([...Object.keys(grid.cells), ...Object.keys(message.cells)]);
  for (const key of keys) {
    const [row, column] = key.split(",").map(Number);
    if (JSON.stringify(grid.cells[key]) !== JSON.stringify(message.cells[key])) {
      paintCell(row, column, message.cells[key]);
    }
  }
  grid.cells = message.cells;
  showSelection();
}

function buildGrid(message) {
  grid.shape = `${message.sheet}:${message.rows}x${message.columns}`;
  grid.cells = {};
  const table = $("#grid");
  const letters = message.letters.map((letter) => `<th>${letter}</th>`).join("");
  const head = `<thead><tr><th></th>${letters}</tr></thead>`;
  const cells = "<td></td>".repeat(message.columns);
  const body = [];
  for (let row = 0; row < message.rows; row++) body.push(`<tr><th>${row + 1}</th>${cells}</tr>`);
  table.innerHTML = `${head}<tbody>${body.join("")}</tbody>`;
  grid.letters = message.letters;
  grid.tds = [...table.tBodies[0].rows].map((tr) => [...tr.cells].slice(1));
  grid.tds.forEach((tds, row) => tds.forEach((td, column) => {
    td.dataset.row = row;
    td.dataset.column = column;
  }));
}

function paintCell(row, column, cell) {
  const td = grid.tds[row] && grid.tds[row][column];
  if (!td) return;
  td.textContent = cell ? cell.text : "";
  td.className = "";
  td.title = cell && cell.error ? cell.error : "";
  td.style.background = cell && cell.fill ? cell.fill : "";
  if (!cell) return;
  if (cell.number) td.classList.add("number");
  if (cell.bold) td.classList.add("bold");
  if (cell.error) td.classList.add("error");
}

function renderSheetTabs(names, active) {
  const tabs = $("#sheet-tabs");
  if (tabs.dataset.names === names.join("\n") && tabs.dataset.active === (grid.sheet || active)) {
    return;
  }
  tabs.dataset.names = names.join("\n");
  tabs.dataset.active = grid.sheet || active;
  tabs.replaceChildren(...names.map((name) => {
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = name;
    button.classList.toggle("active", name === (grid.sheet || active));
    button.onclick = () => openSheet(name);
    return button;
  }));
}

function openSheet(name) {
  grid.sheet = null;
  grid.shape = "";
  send({ type: "sheet", name }, (reply) => {
    if (reply.type === "grid") {
      grid.selected = [0, 0];
      onGrid(reply);
    } else appendOutput(reply.message + "\n", "error");
  });
}

function cellAddress(row, column) {
  return `${grid.letters[column]}${row + 1}`;
}

function showSelection() {
  const [row, column] = grid.selected;
  document.querySelectorAll(".grid td.selected").forEach((td) => td.classList.remove("selected"));
  const td = grid.tds[row] && grid.tds[row][column];
  if (td) td.classList.add("selected");
  $("#cell-name").textContent = cellAddress(row, column);
  const input = $("#cell-input");
  if (document.activeElement !== input) {
    const cell = grid.cells[`${row},${column}`];
    input.value = cell ? (cell.input ?? cell.text) : "";
  }
}

function selectCell(row, column) {
  const rows = grid.tds.length, columns = grid.tds[0] ? grid.tds[0].length : 0;
  const clamp = (value, count) => Math.max(0, Math.min(count - 1, value));
  grid.selected = [clamp(row, rows), clamp(column, columns)];
  $("#cell-input").blur();
  showSelection();
  const td = grid.tds[grid.selected[0]][grid.selected[1]];
  td.scrollIntoView({ block: "nearest", inline: "nearest" });
}

function commitCell() {
  const [row, column] = grid.selected;
  const value = $("#cell-input").value;
  send({ type: "edit", sheet: grid.sheet, row, column, value }, (reply) => {
    if (reply.type === "error") appendOutput(reply.message + "\n", "error");
  });
  selectCell(row + 1, column);
}

function setUpGrid() {
  $("#grid").addEventListener("mousedown", (event) => {
    const td = event.target.closest("td");
    if (td) selectCell(Number(td.dataset.row), Number(td.dataset.column));
  });
  $("#grid").addEventListener("dblclick", () => $("#cell-input").focus());
  $("#grid-wrap").tabIndex = 0;
  $("#grid-wrap").addEventListener("keydown", (event) => {
    const [row, column] = grid.selected;
    const moves = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1],
                    Enter: [1, 0], Tab: [0, 1] };
    if (moves[event.key]) {
      event.preventDefault();
      selectCell(row + moves[event.key][0], column + moves[event.key][1]);
    } else if (event.key === "Delete" || event.key === "Backspace") {
      $("#cell-input").value = "";
      commitCell();
      selectCell(row, column);
    } else if (event.key.length === 1 && !event.ctrlKey && !event.metaKey) {
      const input = $("#cell-input");
      input.value = "";
      input.focus();
    }
  });
  $("#cell-input").addEventListener("keydown", (event) => {
    if (event.key === "Enter") {
      event.preventDefault();
      commitCell();
      $("#grid-wrap").focus();
    } else if (event.key === "Escape") {
      $("#cell-input").blur();
      showSelection();
      $("#grid-wrap").focus();
    }
  });
}

// -- editor -------------------------------------------------------------------------------

const editor = {
  modules: {}, // saved sources by module name
  drafts: {}, // unsaved texts by module name
  current: null,
  diagnostics: [],
  completions: [],
  active: 0,
  sequence: 0, // the newest completion request; older replies are dropped
  signatureSequence: 0, // likewise for signature help (closing the box counts too)
  timers: {},
  metrics: null,
};

const code = () => $("#code");

function renderModuleTabs() {
  const names = [...new Set([...Object.keys(editor.modules), ...Object.keys(editor.drafts)])];
  names.sort();
  $("#module-tabs").replaceChildren(...names.map((name) => {
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = name;
    button.classList.toggle("active", name === editor.current);
    const unsaved = name in editor.drafts && editor.drafts[name] !== editor.modules[name];
    button.classList.toggle("unsaved", unsaved);
    button.onclick = () => openModule(name);
    return button;
  }));
}

function openModule(name, line) {
  if (editor.current !== null) editor.drafts[editor.current] = code().value;
  editor.current = name;
  code().value = editor.drafts[name] ?? editor.modules[name] ?? "";
  editor.diagnostics = [];
  hidePopups();
  renderModuleTabs();
  refreshEditor();
  requestDiagnostics();
  if (line) goToLine(line);
}

function goToLine(line) {
  const lines = code().value.split("\n");
  const start = lines.slice(0, line - 1).reduce((n, text) => n + text.length + 1, 0);
  const end = start + (lines[line - 1] || "").length;
  const area = code();
  area.focus();
  area.setSelectionRange(start, end);
  area.scrollTop = Math.max(0, (line - 4) * metrics().line);
  syncScroll();
}

function saveModule() {
  const name = editor.current;
  if (name === null) return;
  const text = code().value;
  send({ type: "update_module", module_name: name, code: text }, (reply) => {
    if (reply.type !== "module_saved") {
      appendOutput(reply.message + "\n", "error");
      return;
    }
    editor.modules[name] = text;
    // Text typed while the save was on its way stays a draft.
    const now = editor.current === name ? code().value : editor.drafts[name];
    if (now === undefined || now === text) delete editor.drafts[name];
    else editor.drafts[name] = now;
    renderModuleTabs();
    if (editor.current === name) requestDiagnostics();
  });
}

function newModule() {
  const name = prompt("Module name (letters, digits and _)", "my_module");
  if (!name) return;
  if (!(name in editor.modules)) editor.drafts[name] = "";
  openModule(name);
}

function caret() {
  const area = code();
  const before = area.value.slice(0, area.selectionStart).split("\n");
  return { line: before.length, column: before[before.length - 1].length };
}

function metrics() {
  if (editor.metrics) return editor.metrics;
  const probe = document.createElement("span");
  probe.textContent = "M".repeat(100);
  $("#mirror").appendChild(probe);
  const style = getComputedStyle(code());
  editor.metrics = {
    char: probe.getBoundingClientRect().width / 100,
    line: parseFloat(style.lineHeight) || 18,
    pad: parseFloat(style.paddingLeft) || 6,
  };
  probe.remove();
  return editor.metrics;
}

// Where (line, column) is drawn, relative to the editor box.
function pointAt(line, column) {
  const m = metrics();
  const area = code();
  const left = area.offsetLeft + $(".code-wrap").offsetLeft;
  return {
    x: left + m.pad + column * m.char - area.scrollLeft,
    y: area.offsetTop + m.pad + (line - 1) * m.line - area.scrollTop,
  };
}

function escapeHtml(text) {
  return text.replace(/[&<>]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;" })[c]);
}

function offsetOf(lines, line, column) {
  let offset = 0;
  for (let i = 0; i < line - 1 && i < lines.length; i++) offset += lines[i].length + 1;
  return offset + Math.max(0, column - 1);
}

// Draws line numbers, the gutter's markers and the underlines of the diagnostics.
function refreshEditor() {
  const text = code().value;
  const lines = text.split("\n");
  const worst = {};
  for (const d of editor.diagnostics) {
    const kind = SEVERITY[d.severity] || "info";
    if (worst[d.startLineNumber] !== "error") worst[d.startLineNumber] = kind;
  }
  $("#gutter").innerHTML = lines.map((_, i) => {
    const kind = worst[i + 1];
    const title = editor.diagnostics.filter((d) => d.startLineNumber === i + 1)
      .map((d) => d.message).join("\n");
    if (!kind) return `<div>${i + 1}</div>`;
    const tip = escapeHtml(title).replace(/"/g, "&quot;");
    return `<div class="${kind}" title="${tip}">${i + 1}</div>`;
  }).join("");
  const marks = editor.diagnostics.map((d) => {
    const start = offsetOf(lines, d.startLineNumber, d.startColumn);
    let end = offsetOf(lines, d.endLineNumber, d.endColumn);
    if (end <= start) end = start + 1;
    // A one-character range marks where a name starts: underline the whole name.
    if (end === start + 1) while (end < text.length && IDENTIFIER.test(text[end])) end++;
    return { start: Math.min(start, text.length), end: Math.min(end, text.length),
             kind: SEVERITY[d.severity] || "info" };
  }).filter((m) => m.end > m.start).sort((a, b) => a.start - b.start);
  let html = "", at = 0;
  for (const mark of marks) {
    if (mark.start < at) continue;
    html += escapeHtml(text.slice(at, mark.start));
    const marked = escapeHtml(text.slice(mark.start, mark.end));
    html += `<span class="diag-${mark.kind}">${marked}</span>`;
    at = mark.end;
  }
  $("#mirror").innerHTML = html + escapeHtml(text.slice(at)) + "\n";
  $("#problems").replaceChildren(...editor.diagnostics.map((d) => {
    const item = document.createElement("li");
    item.className = SEVERITY[d.severity] || "info";
    item.textContent = `${editor.current}:${d.startLineNumber}:${d.startColumn}  ${d.message}`;
    item.onclick = () => goToLine(d.startLineNumber);
    return item;
  }));
  syncScroll();
}

function syncScroll() {
  const area = code();
  $("#mirror").scrollTop = area.scrollTop;
  $("#mirror").scrollLeft = area.scrollLeft;
  $("#gutter").scrollTop = area.scrollTop;
}

function requestDiagnostics() {
  const name = editor.current;
  if (name === null) return;
  const text = code().value;
  send({ type: "diagnostic_request", code: text, module_name: name }, (reply) => {
    if (editor.current !== name || code().value !== text) return;
    editor.diagnostics = reply.type === "diagnostic_response" ? reply.diagnostics : [];
    refreshEditor();
  });
}

// Unsaved texts of the other modules, so that imports of them see what is being typed.
function dirtyFiles() {
  const dirty = {};
  for (const [name, text] of Object.entries(editor.drafts)) {
    if (name !== editor.current && text !== editor.modules[name]) dirty[name] = text;
  }
  return dirty;
}

function editorRequest(type, onReply) {
  const { line, column } = caret();
  send({ type, code: code().value, line, column, module_name: editor.current,
         dirty_files: dirtyFiles() }, onReply);
}

function requestCompletions() {
  const sequence = ++editor.sequence;
  editorRequest("completion_request", (reply) => {
    if (sequence !== editor.sequence) return;
    if (reply.type !== "completion_response" || !reply.completions.length) {
      hideCompletions();
      return;
    }
    showCompletions(reply.completions);
  });
}

function currentWord() {
  const area = code();
  let start = area.selectionStart;
  while (start > 0 && IDENTIFIER.test(area.value[start - 1])) start--;
  return { start, end: area.selectionStart, text: area.value.slice(start, area.selectionStart) };
}

function showCompletions(items) {
  const prefix = currentWord().text.toLowerCase();
  editor.completions = items.filter((item) => item.label.toLowerCase().startsWith(prefix))
    .slice(0, 200);
  if (!editor.completions.length) {
    hideCompletions();
    return;
  }
  editor.active = 0;
  const list = $("#completions");
  list.replaceChildren(...editor.completions.map((item, index) => {
    const li = document.createElement("li");
    li.setAttribute("role", "option");
    const label = document.createElement("span");
    label.className = "label";
    label.textContent = item.label;
    const detail = document.createElement("span");
    detail.className = "detail";
    detail.textContent = item.detail || "";
    li.append(label, detail);
    li.onmousedown = (event) => {
      event.preventDefault();
      acceptCompletion(index);
    };
    return li;
  }));
  const { line, column } = caret();
  const point = pointAt(line + 1, column - currentWord().text.length);
  list.style.left = `${point.x}px`;
  list.style.top = `${point.y}px`;
  list.hidden = false;
  markActive();
}

function markActive() {
  [...$("#completions").children].forEach((li, index) => {
    li.classList.toggle("active", index === editor.active);
    if (index === editor.active) li.scrollIntoView({ block: "nearest" });
  });
}

function hideCompletions() {
  $("#completions").hidden = true;
  editor.completions = [];
}

function acceptCompletion(index) {
  const item = editor.completions[index];
  if (!item) return;
  const word = currentWord();
  const area = code();
  area.setRangeText(item.insertText || item.label, word.start, word.end, "end");
  hideCompletions();
  onEdit();
}

function requestSignature() {
  const sequence = ++editor.signatureSequence;
  editorRequest("signature_help_request", (reply) => {
    if (sequence !== editor.signatureSequence) return;
    const box = $("#signature");
    const signature = reply.signatures && reply.signatures[reply.activeSignature || 0];
    if (!signature) {
      box.hidden = true;
      return;
    }
    const active = signature.parameters[reply.activeParameter || 0];
    let html = escapeHtml(signature.label);
    if (active) {
      const at = signature.label.indexOf(active.label, signature.label.indexOf("("));
      if (at >= 0) {
        html = escapeHtml(signature.label.slice(0, at)) +
          `<span class="active-parameter">${escapeHtml(active.label)}</span>` +
          escapeHtml(signature.label.slice(at + active.label.length));
      }
    }
    if (signature.documentation) html += `\n${escapeHtml(signature.documentation)}`;
    box.innerHTML = html;
    const { line, column } = caret();
    const point = pointAt(line, column);
    box.style.left = `${Math.max(0, point.x - 20)}px`;
    box.style.top = `${point.y}px`;
    box.hidden = false;
    box.style.top = `${Math.max(0, point.y - box.offsetHeight - 2)}px`;
  });
}

function hideSignature() {
  editor.signatureSequence++;
  $("#signature").hidden = true;
}

function hidePopups() {
  hideCompletions();
  hideSignature();
  $("#hover").hidden = true;
}

function onEdit() {
  editor.drafts[editor.current] = code().value;
  renderModuleTabs();
  refreshEditor();
  clearTimeout(editor.timers.diagnostics);
  editor.timers.diagnostics = setTimeout(requestDiagnostics, 700);
}

function onHover(event) {
  clearTimeout(editor.timers.hover);
  $("#hover").hidden = true;
  const area = code();
  const rect = area.getBoundingClientRect();
  const m = metrics();
  const line = Math.floor((event.clientY - rect.top - m.pad + area.scrollTop) / m.line) + 1;
  const column = Math.floor((event.clientX - rect.left - m.pad + area.scrollLeft) / m.char);
  const lines = area.value.split("\n");
  if (line < 1 || line > lines.length || column < 0 || column >= lines[line - 1].length) return;
  if (!IDENTIFIER.test(lines[line - 1][column])) return;
  editor.timers.hover = setTimeout(() => {
    send({ type: "hover_request", code: area.value, line, column, module_name: editor.current,
           dirty_files: dirtyFiles() },
      (reply) => {
        const value = reply.contents && (reply.contents.value ?? reply.contents);
        if (!value || typeof value !== "string") return;
        const box = $("#hover");
        box.textContent = value.replace(/```\w*\n?/g, "").trim();
        const point = pointAt(line + 1, column);
        box.style.left = `${point.x}px`;
        box.style.top = `${point.y}px`;
        box.hidden = false;
      });
  }, 450);
}

function setUpEditor() {
  const area = code();
  area.addEventListener("input", (event) => {
    onEdit();
    const typed = event.data || "";
    if (typed === "(" || typed === ",") requestSignature();
    else if (typed === ")" || event.inputType === "insertLineBreak") hideSignature();
    const last = typed[typed.length - 1] || "";
    if (IDENTIFIER.test(last) || last === ".") {
      clearTimeout(editor.timers.completion);
      editor.timers.completion = setTimeout(requestCompletions, 120);
    } else {
      clearTimeout(editor.timers.completion);
      editor.sequence++;
      hideCompletions();
    }
  });
  area.addEventListener("keydown", (event) => {
    const open = !$("#completions").hidden;
    if (event.key === " " && event.ctrlKey) {
      event.preventDefault();
      requestCompletions();
    } else if (event.key === "s" && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      saveModule();
    } else if (open && (event.key === "ArrowDown" || event.key === "ArrowUp")) {
      event.preventDefault();
      const step = event.key === "ArrowDown" ? 1 : -1;
      const count = editor.completions.length;
      editor.active = (editor.active + step + count) % count;
      markActive();
    } else if (open && (event.key === "Enter" || event.key === "Tab")) {
      event.preventDefault();
      acceptCompletion(editor.active);
    } else if (event.key === "Escape") {
      hidePopups();
    } else if (event.key === "Tab") {
      event.preventDefault();
      area.setRangeText("    ", area.selectionStart, area.selectionEnd, "end");
      onEdit();
    }
  });
  area.addEventListener("scroll", () => {
    syncScroll();
    hidePopups();
  });
  area.addEventListener("blur", () => setTimeout(hideCompletions, 150));
  area.addEventListener("click", () => hidePopups());
  area.addEventListener("mousemove", onHover);
  area.addEventListener("mouseleave", () => clearTimeout(editor.timers.hover));
  $("#save-module").onclick = saveModule;
  $("#new-module").onclick = newModule;
}

// -- console ------------------------------------------------------------------------------

const TRACE_LINE = /File "<virtual:([A-Za-z0-9_.]+)>", line (\d+)/g;

function appendOutput(text, kind) {
  const output = $("#console-output");
  // Pieces of one stream (print writes the text and its newline apart) share one span.
  const last = output.lastElementChild;
  const span = last && last.className === kind ? last : document.createElement("span");
  span.className = kind;
  let at = 0;
  for (const match of text.matchAll(TRACE_LINE)) {
    span.append(text.slice(at, match.index));
    const link = document.createElement("a");
    link.textContent = match[0];
    link.title = `Open ${match[1]} at line ${match[2]}`;
    link.onclick = () => openModule(match[1], Number(match[2]));
    span.append(link);
    at = match.index + match[0].length;
  }
  span.append(text.slice(at));
  output.append(span);
  output.scrollTop = output.scrollHeight;
}

function runCode() {
  const input = $("#console-code");
  const text = input.value;
  if (!text.trim()) return;
  input.value = "";
  const echo = text.split("\n").map((line, i) => (i ? "... " : ">>> ") + line);
  appendOutput(echo.join("\n") + "\n", "input");
  send({ type: "execution_request", code: text }, (message) => {
    switch (message.type) {
      case "stdout":
      case "stderr":
        appendOutput(message.content, message.type);
        return false;
      case "result_output":
        appendOutput(message.content, "result");
        return false;
      case "execution_error":
        appendOutput(message.error.traceback || `${message.error.type}: ${message.error.message}\n`,
                     "error");
        return true;
      case "error":
        appendOutput(message.message + "\n", "error");
        return true;
      default:
        return message.type === "execution_result";
    }
  });
}

function setUpConsole() {
  $("#console-code").addEventListener("keydown", (event) => {
    if (event.key === "Enter" && !event.shiftKey) {
      event.preventDefault();
      runCode();
    }
  });
  $("#run").onclick = runCode;
}

// -- packages -----------------------------------------------------------------------------

function resolvePackages() {
  const requirements = $("#requirements").value.split("\n");
  $("#resolution").textContent = "Resolving…";
  send({ type: "resolve", requirements }, showResolution);
}

function showResolution(reply) {
  const out = $("#resolution");
  if (reply.type === "error") {
    out.innerHTML = `<div class="error">${escapeHtml(reply.message)}</div>`;
    return;
  }
  const rows = reply.packages.map((p, i) => {
    const spec = p.spec;
    const extras = spec.extras && spec.extras.length ? `[${spec.extras.join(",")}]` : "";
    const why = p.is_direct ? "requested" : "dependency";
    const pin = escapeHtml(`${spec.name}${extras}==${spec.version}`);
    return `<tr><td>${i + 1}.</td><td>${pin}</td>` +
           `<td>${escapeHtml(why)}</td></tr>`;
  }).join("");
  const conflicts = reply.conflicts.map((c) => {
    const text = `${c.package}: ${c.requested_version} requested by ${c.requested_by}, ` +
      `keeping ${c.existing_version}`;
    return `<div class="conflict">${escapeHtml(text)}</div>`;
  });
  const errors = reply.errors.map((e) => `<div class="error">${escapeHtml(String(e))}</div>`);
  out.innerHTML = `<h4>Install order (${reply.packages.length})</h4><table>${rows}</table>` +
    `<h4>Conflicts (${conflicts.length})</h4>${conflicts.join("")}` +
    `<h4>Errors (${errors.length})</h4>${errors.join("")}`;
}

function setUpPanels() {
  document.querySelectorAll("#bottom-pane .tab").forEach((tab) => {
    tab.onclick = () => {
      document.querySelectorAll("#bottom-pane .tab")
        .forEach((other) => other.classList.toggle("active", other === tab));
      document.querySelectorAll("#bottom-pane .panel").forEach((panel) => {
        panel.hidden = panel.id !== tab.dataset.panel;
      });
    };
  });
  $("#resolve").onclick = resolvePackages;
}

setUpGrid();
setUpEditor();
setUpConsole();
setUpPanels();
connect();
