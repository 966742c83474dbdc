// Executes one SSE2 instruction without asking the processor whether it has SSE2. A processor
// without SSE2 refuses it (an invalid-opcode fault, which ends the program), so this program
// shows whether an emulated processor really lacks SSE2 or only says so (scripts/no-sse2.sh).
int main() {
  asm volatile("pxor %xmm0, %xmm0");
  return 0;
}
