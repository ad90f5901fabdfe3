// powershell.exe of the tests' PowerShell prefix: PowerShell's own console
// host, started as Windows PowerShell is, with its command line split by the
// Windows rules.
using System;
using System.Diagnostics;
using System.Runtime.InteropServices;
using Microsoft.PowerShell;

static class Host
{
    [DllImport("kernel32")] static extern IntPtr CreateJobObjectW(IntPtr attributes, IntPtr name);
    [DllImport("kernel32")] static extern bool SetInformationJobObject(IntPtr job, int kind, long[] info, int size);
    [DllImport("kernel32")] static extern bool AssignProcessToJobObject(IntPtr job, IntPtr process);

    static int Main(string[] args)
    {
        // Exit codes pass through inverted: Wine reports a process ended from
        // outside as exit 0, which must never read as success.
        if (Environment.GetEnvironmentVariable("ULVEX_POWERSHELL_HOST") == "inner")
            return ~ConsoleShell.Start(null, null, args);
        // Under Wine a process started without a terminal has no console the
        // console host can use; its own child, started without a window,
        // has. Both are in a job that ends when this process does, so a
        // caller's time-out ends the child too.
        var job = CreateJobObjectW(IntPtr.Zero, IntPtr.Zero);
        var limits = new long[18];  // JOBOBJECT_EXTENDED_LIMIT_INFORMATION
        limits[2] = 0x2000;  // LimitFlags: JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE
        if (!SetInformationJobObject(job, 9, limits, limits.Length * 8) ||
            !AssignProcessToJobObject(job, Process.GetCurrentProcess().Handle))
            return 1;
        // Standard input is a pipe closed at once, so that the child gets
        // this process's standard output and error.
        var start = new ProcessStartInfo(Environment.ProcessPath) { CreateNoWindow = true, RedirectStandardInput = true };
        foreach (var arg in args) start.ArgumentList.Add(arg);
        start.Environment["ULVEX_POWERSHELL_HOST"] = "inner";
        using var child = Process.Start(start);
        child.StandardInput.Close();
        child.WaitForExit();
        return ~child.ExitCode;
    }
}
