#include "board/boardlink.h"

#include <chrono>
#include <thread>

void TBoardLink::Pause(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
