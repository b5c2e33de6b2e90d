// The demo installation's loader. Brimvale starts it as
//   java -Xmx512M -cp .;"R/java/lib" -jar "R/java/lib/Brimvale.jar" ARGS... -N "R"
// It prints what it received and ends with the code given by "--exit N" (0 by default).
public final class Loader {
    public static void main(String[] args) {
        String root = null;
        int exitCode = 0;
        System.out.println("Demo loader: " + args.length + " argument(s)");
        for (int i = 0; i < args.length; i++) {
            System.out.println("  arg " + i + ": [" + args[i] + "]");
            if (args[i].equals("-N") && i + 1 < args.length) {
                root = args[i + 1];
            }
            if (args[i].equals("--exit") && i + 1 < args.length) {
                try {
                    exitCode = Integer.parseInt(args[i + 1]);
                } catch (NumberFormatException e) {
                    System.out.println("  --exit wants a number, not " + args[i + 1]);
                }
            }
        }
        System.out.println("Installation root (-N): " + root);
        System.out.println("DEMO_GREETING from QK.env: " + System.getenv("DEMO_GREETING"));
        System.out.println("Exiting with " + exitCode);
        System.exit(exitCode);
    }
}
