// powershell.exe of the tests' PowerShell prefix: PowerShell's own console
// host in a process of its own, so it reads its command line by the Windows
// rules, exactly as Windows PowerShell does.
using System;
using System.Runtime.InteropServices;
using Microsoft.PowerShell;

static class Host
{
    [DllImport("kernel32")] static extern IntPtr GetStdHandle(int kind);
    [DllImport("kernel32")] static extern bool SetStdHandle(int kind, IntPtr handle);
    [DllImport("kernel32")] static extern bool GetConsoleMode(IntPtr handle, out int mode);
    [DllImport("kernel32")] static extern bool FreeConsole();
    [DllImport("kernel32")] static extern bool AllocConsole();

    static int Main(string[] args)
    {
        // Under Wine a process started without a terminal (hidden, by the
        // program) has a console the console host cannot use. A new one
        // serves, and this process stays the only one: nothing it started
        // can outlive a caller's time-out. Output and errors still go where
        // they went.
        IntPtr output = GetStdHandle(-11), error = GetStdHandle(-12);
        if (!GetConsoleMode(output, out _))
        {
            FreeConsole();
            AllocConsole();
            SetStdHandle(-11, output);
            SetStdHandle(-12, error);
        }
        return ConsoleShell.Start(null, null, args);
    }
}
