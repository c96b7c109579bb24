#pragma once
// The program's random numbers: one process-wide generator, seeded from the time
// of day, so every start deals different puzzles.

namespace toolkit {

// Seeds the generator from the time of day in milliseconds, or with the seed
// the test hooks give (TAMBLO_SEED, or ?seed= in a browser).
void Randomize();
// Seeds it with a fixed value, for tests that need a repeatable draw.
void RandSeed(unsigned seed);
// An integer from 0 to n - 1, evenly distributed; 0 when n <= 0.
int Random(int n);

}  // namespace toolkit
