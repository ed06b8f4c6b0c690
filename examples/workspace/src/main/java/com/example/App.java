package com.example;

public final class App {
    public static void main(String[] args) {
        System.out.println(Greeting.of(args.length > 0 ? args[0] : "world"));
    }
}
