# Draws results/*.dat (written by report.py) as one PNG; run from the results folder.
set terminal pngcairo size 1400,1000 font "sans,10" noenhanced
set output "benchmarks.png"
load "chart.vars"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
# Room above the tallest bar for the key.
set offsets 0, 0, graph 0.15, 0
set grid ytics
set key top left
set xtics rotate by -25
set multiplot layout 2,2 title "Velmora: median milliseconds per frame (lower is better)"

set title "Kernel alone, one core (log scale)"
set logscale y
plot "kernel.dat" using 2:xtic(1) title "scalar rule", \
     "" using 3 title "three passes", \
     "" using 4 title "vectorised", \
     "" using 5 title "memcpy"
unset logscale y

set title "Whole Execute through the COM effect"
plot "execute.dat" using 2:xtic(1) title "bare kernel", \
     "" using 3 title "Execute, 1 thread", \
     "" using 4 title "Execute, 2 threads"

set title "In ffmpeg, 1080p keyed: filter time alone"
set yrange [0:*]
plot "ffmpeg.dat" using 2:xtic(1) title "unpremultiply=inplace=1", \
     "" using 3 title frei0r_title

set title "Vectorised kernel per instruction set, 1080p all-partial, one core"
set yrange [0:*]
plot "targets.dat" using 2:xtic(1) title "scalar rule", \
     "" using 3 title "vectorised"
unset multiplot
