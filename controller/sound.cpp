// Sound output of the beeper through the desktop's sound server. Without a server (or when it
// refuses) the tone stays silent and takes no time: nothing fails because of it.
#include "controller/sound.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include "controller/controller.h"

void emu_SquareWave(int16_t* samples, int count, int frequencyHz, long first) {
  constexpr int16_t AMPLITUDE = 8192;
  for (int i = 0; i < count; ++i) {
    // Position inside the period, in half periods: even halves high, odd halves low.
    long half = ((first + i) * 2L * frequencyHz) / EMU_SOUND_RATE;
    samples[i] = (half % 2 == 0) ? AMPLITUDE : static_cast<int16_t>(-AMPLITUDE);
  }
}

void emu_PlayTone(int frequencyHz, int durationMs) {
  if (frequencyHz <= 0 || durationMs <= 0) return;
  const pa_sample_spec format = {PA_SAMPLE_S16LE, EMU_SOUND_RATE, 1};
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "Padix", PA_STREAM_PLAYBACK, nullptr, "beeper",
                                    &format, nullptr, nullptr, &error);
  if (stream == nullptr) return;

  int16_t block[EMU_SOUND_RATE / 100];  // 10 ms, the beeper's own time step
  const long total = static_cast<long>(EMU_SOUND_RATE) * durationMs / 1000;
  for (long done = 0; done < total;) {
    int n = static_cast<int>(total - done < (long)(sizeof block / sizeof block[0])
                                 ? total - done
                                 : sizeof block / sizeof block[0]);
    emu_SquareWave(block, n, frequencyHz, done);
    if (pa_simple_write(stream, block, static_cast<size_t>(n) * sizeof block[0], &error) < 0) break;
    done += n;
  }
  pa_simple_drain(stream, &error);
  pa_simple_free(stream);
}
