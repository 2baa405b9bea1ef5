// The core, compiled to WebAssembly: the same protocol, pairing rule, text rule and update
// sequence as the Windows program. The shell is what the core calls back: send, wait, show.
import createCore from "./tavi-core.js";

export async function loadCore(shell) {
  const module = await createCore({ shell });
  const call = (name, ...args) => module["_" + name](...args);
  call("tavi_start");
  const replyBuffer = call("tavi_reply_buffer");
  const replyBufferSize = call("tavi_reply_buffer_size");
  return {
    // Hands one received message to the parser; the reply code it stored, or 0.
    reply(data) {
      if (data.length > replyBufferSize) {
        return 0; // the program's receive buffer could not hold it either
      }
      module.HEAPU8.set(data, replyBuffer);
      return call("tavi_reply", data.length);
    },
    deviceMode: () => call("tavi_device_mode"),
    setAbsent: () => call("tavi_set_absent"),
    version: () => [call("tavi_version", 0), call("tavi_version", 1)],
    openingQueryCount: () => call("tavi_opening_query_count"),
    sendOpeningQuery: (index) => call("tavi_send_opening_query", index),
    sendOption: (option, on) => call("tavi_send_option", option, on ? 1 : 0),
    sendMmcId: (id) => call("tavi_send_mmc_id", id),
    sendBrightness: (level) => call("tavi_send_brightness", level),
    mmcIdFromText: (text, current) =>
      module.ccall("tavi_mmc_id_from_text", "number", ["string", "number"], [text, current]),
    matchInput: (outputs, output, inputs) =>
      module.ccall("tavi_match_input", "number",
        ["string", "number", "number", "string", "number"],
        [outputs.join("\n"), outputs.length, output, inputs.join("\n"), inputs.length]),
    // The whole update; resolves once the shell's done() has run.
    runUpdate: () => module.ccall("tavi_run_update", "number", [], [], { async: true }),
  };
}
