// The vocal synthesis model: four slowly varying affect inputs become 16-bit
// mono audio at 8000 samples per second, one block at a time.
//
// Three coupled mechanisms: a slow non-linear breathing oscillator (its phase is
// what the node publishes), a vocalisation cycle whose envelope opens and
// closes the mouth, and a sound source (a 350 Hz pulse train with vibrato plus
// breath noise) that passes three parallel resonators chosen by the envelope.
// The breath and the vocalisation cycle advance once every 16 samples (a
// control step of 2 ms); the rest runs per sample.
//
// The record is plain data; the functions allocate nothing, take no locks and
// do no I/O. The model draws from the shared random generator (fastmath.h).
#ifndef VESK_VOICE_VOCS_H
#define VESK_VOICE_VOCS_H

#include <cstdint>

constexpr int kVocsSampleRate = 8000;   // [samples/s]
constexpr int kVocsControlPeriod = 16;  // samples per control step
constexpr int kVocsRows = 16;           // envelope levels of the resonator tables
constexpr int kVocsRowLength = 9;       // three biquads of three coefficients

// Resonator tables, one row per envelope level: three biquads, each as
// (a0, a1, a2) in vocs_filt_aa and (b0, b1, b2) in vocs_filt_bb.
extern const float vocs_filt_aa[kVocsRows][kVocsRowLength];
extern const float vocs_filt_bb[kVocsRows][kVocsRowLength];

struct VOCS_STATE {
  float consts[4];           // 10.091752, 350, 0.0025, 1.5; only consts[2] (breath-noise gain) is read
  float in0, in1, in2, in3;  // inputs: valence, arousal, wakefulness, sound level
  uint8_t mute;              // 0 in normal use
  // breathing oscillator
  float nl_gain, osc_k, thr_gain, damp, bias_p, bias_q;
  // source
  float pulse_shape, vib_depth;
  float trem_prob, trem_rate_mean, trem_depth_on;
  float vib4_depth, trem_rate, trem_depth;  // drawn once per breath
  float x, v;                               // breath position and velocity
  float thr;                                // the oscillator's moving threshold
  float pulse_phase;                        // [turns], [0, 1)
  float noise_lp, noise_prev;
  float trem_phase;                                      // [turns], [0, 1)
  float dir_prev;                                        // breath direction at the previous sample
  float rate;                                            // smoothed vocalisation rate
  uint8_t mute_latched;                                  // mute as latched at the last rising breath crossing
  float voc_phase;                                       // [turns], [0, 1)
  float jit_x[4], jit_y[4];                              // jitter filter history, a ring of 4
  int32_t jit_slot;                                      // slot written at the next control step
  float coef_b[kVocsRowLength], coef_a[kVocsRowLength];  // resonator row in use
  float res_hist[12];                                    // per resonator: x1, x2, y1, y2
};

// Starting state: call on a record whose every field is 0.
void vocs_init(VOCS_STATE* s);

// Stores the inputs and derives the model parameters. Once per block, before vocs_step.
void vocs_update(VOCS_STATE* s, uint8_t mute, float in0, float in1, float in2, float in3);

// Draws the per-breath random parameters (tremolo depth and rate, vibrato depth).
void vocs_update_stoch(VOCS_STATE* s);

// Writes `count` samples; sets *vocalising (never clears it) when the
// vocalisation envelope was open at any control step of the call. Returns the
// breathing phase in radians, [0, 2*pi), of the last control step; a count of
// 0 or less writes nothing and returns 0.
float vocs_step(VOCS_STATE* s, int16_t* samples, int count, bool* vocalising);

// True when every evolving field of the record (oscillator, phases, filter
// histories) is finite.
bool vocs_state_finite(const VOCS_STATE* s);

// Puts the evolving fields back to their starting values (breath at x = 0.5,
// everything else 0), keeping inputs, parameters and per-breath draws.
void vocs_restore(VOCS_STATE* s);

#endif  // VESK_VOICE_VOCS_H
