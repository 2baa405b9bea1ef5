// The program's message boxes: modal, titled by the caption, one OK button. Never alert():
// it stops MIDI input while it shows. Boxes asked for while one shows wait their turn.
const box = document.getElementById("message-box");
const caption = document.getElementById("message-caption");
const text = document.getElementById("message-text");
let queue = Promise.resolve();

function showOne(message, title) {
  return new Promise((resolve) => {
    caption.textContent = title;
    text.textContent = message;
    box.addEventListener("close", () => resolve(), { once: true });
    box.showModal();
    box.querySelector("button").focus();
  });
}

// Resolves when the user has closed the box (OK, Enter or Esc).
export function showMessage(message, title) {
  queue = queue.then(() => showOne(message, title));
  return queue;
}
