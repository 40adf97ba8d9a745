#include "UnitTime.h"

#include "wire/Exchanges.h"
#include "wire/StreamPacing.h"

namespace {

double labelSecondsLeft(qint64 size, Wire::Stage stage, qint64 sent)
{
    using Wire::Stage;
    double left = Wire::kReleaseWait;
    switch (stage) {
    case Stage::Waiting:
    case Stage::Opening:
    case Stage::Polling: left += Wire::kPollWait; [[fallthrough]];
    case Stage::Slot: left += Wire::kSlotNameWait; [[fallthrough]];
    case Stage::Length: left += Wire::kLengthWait + streamSecondsLeft(size, 0); break;
    case Stage::Streaming: left += streamSecondsLeft(size, sent); break;
    case Stage::Draining:
    case Stage::Releasing: break;
    case Stage::Done: left = 0; break;
    }
    return left;
}

}  // namespace

double unitSeconds(const Recipe& recipe)
{
    return unitSecondsLeft(recipe, 0, Wire::Stage::Waiting, 0);
}

double unitSecondsLeft(const Recipe& recipe, int label, Wire::Stage stage, qint64 sent)
{
    double left = 0;
    for (int i = label; i < recipe.labels.size(); ++i)
        left += labelSecondsLeft(recipe.labels[i].bytes.size(), i == label ? stage : Wire::Stage::Waiting,
                                 i == label ? sent : 0);
    return left;
}
