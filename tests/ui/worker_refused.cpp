// Stands in for the worker's thread start in a test build of the program: a machine out of
// threads or memory, where the window must undo what it locked for the update.
#include "firmware/update_worker.h"

int StartUpdateWorker() {
    return -1;
}
